# Two entry points for a fresh Debian 12 machine (run as root, or with sudo available):
#   make demo   install what is missing, build, generate the demo, run the player on it
#   make test   install what is missing, build, run the whole test suite
#   make fuzz   build the fuzz targets (clang, sanitizers) and run each for long (see below)
# More checks (CI runs check-floors, build-release and test-sanitize):
#   make check-floors    each floor of src/ a shared library linked with -z defs: a use of a
#                        higher floor fails to link
#   make build-release   build everything as a user's Release build would (-O3, the same warnings)
#   make test-sanitize   the whole test suite built with AddressSanitizer + UBSan
#   make test-tsan       the frame cache's tests built with ThreadSanitizer
#   make soak            the long soak: 100,000 motion-mode and 20,000 gesture-mode player cycles
BUILD ?= build
RELEASE_BUILD  ?= build-release
SANITIZE_BUILD ?= build-sanitize
TSAN_BUILD     ?= build-tsan
FLOORS_BUILD   ?= build-floors
# The build the long soak runs in (SOAK_BUILD=$(SANITIZE_BUILD) adds LeakSanitizer to it).
SOAK_BUILD ?= $(BUILD)
# What CTest gives the sanitizer build's tests, for running them by hand (no effect elsewhere).
SANITIZER_ENV := LSAN_OPTIONS=suppressions=$(CURDIR)/tools/sanitizers/lsan.supp:print_suppressions=0 \
                 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
JOBS  ?= $(shell nproc)
# opencv-doc: the street footage of its examples (vtest.avi) that the threshold rule is tested on.
PKGS  := build-essential cmake pkg-config libopencv-dev libgtest-dev libgmock-dev \
         libbenchmark-dev xvfb xdotool x11-utils imagemagick ffmpeg \
         qtbase5-dev libx11-dev liblo-dev liblo-tools puredata-core lintian man-db \
         clang libclang-rt-14-dev opencv-doc

TOOL_TARGETS = $(patsubst tools/%.cpp,orvante-%,$(subst _,-,$(wildcard tools/*.cpp)))

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps build test demo demo-gesture bench clean package package-check fuzz-build fuzz-test fuzz \
        build-release build-sanitize test-sanitize build-tsan test-tsan soak check-floors

deps:
	@missing=""; for p in $(PKGS); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

build-release: deps
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_BUILD) -j $(JOBS)

# Only the floors are built (orvante_app brings the others), unoptimised: the check is their
# links, and without the precompiled headers every file must include what it uses.
check-floors: deps
	cmake -S . -B $(FLOORS_BUILD) -DCMAKE_BUILD_TYPE=Debug -DORVANTE_FLOOR_CHECK=ON
	cmake --build $(FLOORS_BUILD) -j $(JOBS) --target orvante_app

# The sanitizer build's tests get the suppressions file through CTest (CMakeLists.txt).
build-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANTE_SANITIZE=ON
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)

test-sanitize: build-sanitize
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS)

# Only the library and the cache's test program are built: the worker threads are the one
# place where threads meet.
build-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANTE_TSAN=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target orvante_tsan_tests

test-tsan: build-tsan
	cd $(TSAN_BUILD) && ctest --output-on-failure -j $(JOBS) -R '^tsan[.]'

# Each mode in a process of its own, so that each ends with its own leak check.
soak: $(if $(filter $(SANITIZE_BUILD),$(SOAK_BUILD)),build-sanitize,build)
	ORVANTE_SOAK_MOTION_CYCLES=100000 $(SANITIZER_ENV) $(SOAK_BUILD)/orvante_tests --gtest_filter='Soak.MotionMode*'
	ORVANTE_SOAK_GESTURE_CYCLES=20000 $(SANITIZER_ENV) $(SOAK_BUILD)/orvante_tests --gtest_filter='Soak.GestureMode*'

# The demo needs only the player and the demo tool: building the tests and benchmarks first
# would keep a new user waiting minutes for the first window.
demo: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target orvante orvante-make-demo
	$(BUILD)/orvante-make-demo demo
	@echo "Press q in the player window to switch the recorded camera (demo/camera) on and off."
	cd demo/work && ORVANTE_CAMERA=$(CURDIR)/demo/camera/motion_%04d.png ../../$(BUILD)/orvante

# The Debian package (build/orvante_<version>_amd64.deb) and its check: unpacked into a
# temporary folder, the packaged player must run a generated content to the end.
package: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target orvante orvante_man orvante_changelog $(TOOL_TARGETS)
	cd $(BUILD) && cpack -G DEB

package-check: package
	tools/check-package.sh $(BUILD)

# Teaches gesture 0 from the demo's gesture recording (one standard motion, two learning passes),
# saves the knowledge base, then plays the demo with that recording as the camera: press q and
# the frames follow the arm's sweeps.
demo-gesture: build
	$(BUILD)/orvante-make-demo demo
	rm -f demo/work/HOLVA_data-1-*.dat
	$(BUILD)/orvante-replay --workdir demo/work --camera demo/gesture/sweep_%04d.png --learn 0 --passes 2 --save --trace demo/teach.csv --plot demo/teach.png 2>demo/teach.log
	@grep -E '^(VERDICT|WARNING)' demo/teach.log | tail -2 || true
	@echo "Gesture 0 taught (demo/teach.png); press q in the player window to switch the recorded camera on."
	cd demo/work && ORVANTE_CAMERA=$(CURDIR)/demo/gesture/sweep_%04d.png ../../$(BUILD)/orvante

bench: build
	$(BUILD)/orvante_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

# Fuzz targets of everything the player reads from outside (fuzz/): a clang build of the
# library and the targets only, with the address and undefined-behaviour sanitizers.
#   make fuzz-test   the short runs of the test suite (ctest -L fuzz), as CI runs them
#   make fuzz        each target until FUZZ_RUNS inputs or FUZZ_SECONDS seconds, one at a time,
#                    at the lowest priority; FUZZ_TARGETS="kb env" picks targets
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 1800
FUZZ_RUNS    ?= 1000000
FUZZ_TARGETS ?=

fuzz-build: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DORVANTE_SANITIZE=ON -DORVANTE_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target orvante_fuzzers

fuzz-test: fuzz-build
	cd $(FUZZ_BUILD) && ctest -L fuzz --output-on-failure -j $(JOBS)

fuzz: fuzz-build
	FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_RUNS=$(FUZZ_RUNS) tools/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_TARGETS)

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(FLOORS_BUILD) $(FUZZ_BUILD) demo

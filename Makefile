# Two entry points for a fresh Debian 12 machine (run as root, or with sudo available):
#   make demo   install what is missing, build, generate the demo, run the player on it
#   make test   install what is missing, build, run the whole test suite
#   make fuzz   build the fuzz targets (clang, sanitizers) and run each for long (see below)
BUILD ?= build
JOBS  ?= $(shell nproc)
PKGS  := build-essential cmake pkg-config libopencv-dev libgtest-dev libgmock-dev \
         libbenchmark-dev xvfb xdotool x11-utils imagemagick \
         qtbase5-dev libx11-dev liblo-dev liblo-tools lintian man-db \
         clang libclang-rt-14-dev

TOOL_TARGETS = $(patsubst tools/%.cpp,orvante-%,$(subst _,-,$(wildcard tools/*.cpp)))

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps build test demo demo-gesture bench clean package package-check fuzz-build fuzz-test fuzz

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
	rm -rf $(BUILD) $(FUZZ_BUILD) demo

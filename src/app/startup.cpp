// Entry point: banner, command line, batch-copy mode, interactive start, function list.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/core/version.hpp>
#include <opencv2/imgcodecs.hpp>

#include "app/app.h"
#include "app/app_state.h"
#include "common/display.h"
#include "common/limits.h"
#include "common/platform.h"
#include "control/control_state.h"
#include "player/player_state.h"
#include "control/control.h"
#include "player/player.h"
#include "app/main_loop.h"
#include "kb/kb.h"
#include "player/display_step.h"
#include "player/frame_cache.h"

namespace orv {

namespace {

constexpr size_t kCommandBuffer = 256;  // batch-copy command text, NUL included

// Cut s to at most max bytes without splitting a UTF-8 sequence.
size_t Utf8Cut(const char* s, size_t len, size_t max) {
  if (len <= max) return len;
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

void PrintStartBanner() {
  const std::string slashes(82, '/');
  const std::string box = "//" + std::string(78, ' ') + "//";
  std::printf("%s\n%s\n", slashes.c_str(), box.c_str());
  // Names the platform the player runs on, closed at the width of the box around it.
  std::string line = "//    O  R  V  A  N  T  E    Ver. 1.1   ( " + PlatformName() + " Version )";
  line += std::string(line.size() < slashes.size() - 2 ? slashes.size() - 2 - line.size() : 1, ' ') + "//";
  std::printf("%s\n", line.c_str());
  std::printf("%s\n%s\n\n", box.c_str(), slashes.c_str());
}

void TakeCommandLine(int argc, char** argv) {
  std::string whole;
  for (int i = 0; i < argc; ++i) {
    if (i) whole += ' ';
    whole += argv[i];
  }
  std::printf("%s\n", whole.c_str());
  for (int i = 0; i < argc; ++i) std::printf("[%d]%s\n", i, argv[i]);

  // Slots beyond the table are not taken: the table is the program's limit.
  int count = argc;
  if (count > kMaxFrames) {
    std::fprintf(stderr, "WARNING: %d words on the command line; only the first %d are taken.\n", argc,
                 kMaxFrames);
    count = kMaxFrames;
  }
  app.ArgCount = count;
  long total = 0;
  for (int i = 0; i < count; ++i) {
    const size_t len = Utf8Cut(argv[i], std::strlen(argv[i]), kNameSize - 1);
    std::memcpy(ArgName[i].data(), argv[i], len);
    ArgName[i][len] = '\0';
    total += static_cast<long>(len);
  }
  std::printf("\nTotal length of file name strings = %ld\n\n", total);
  player.LinkSlot = 1;
}

int RunBatchCopy() {
  // Byte order, unsigned: a stable sort gives the same order as the pairwise passes.
  std::stable_sort(ArgName.begin() + 1, ArgName.begin() + app.ArgCount,
                   [](const NameSlot& a, const NameSlot& b) {
                     return std::strcmp(a.data(), b.data()) < 0;  // strcmp compares unsigned bytes
                   });
  std::vector<std::string> names;
  for (int k = 1; k < app.ArgCount; ++k) names.emplace_back(ArgName[static_cast<size_t>(k)].data());
  // A name that filled its slot may have been cut; the command text has a fixed buffer.
  const FrameCopyResult r = CopyFramesToContent(names, "../S001", {kCommandBuffer, kNameSize - 1});
  std::printf("FINISHED.\n");
  // A run that left files behind must not look like a success to a calling script.
  return r.failed > 0 ? 1 : 0;
}

void LoadInterfaceImages() {
  player.SideImageLeft = cv::imread("./to_left.jpg", cv::IMREAD_COLOR);
  player.SideImageRight = cv::imread("./to_right.jpg", cv::IMREAD_COLOR);
  control.PauseImage = cv::imread("./keyallocation_01.jpg", cv::IMREAD_COLOR);
}

// An environment variable's number in lo..hi into *v; *v stays as it is when the variable is
// not set, and when it is not such a number, which is then named with `otherwise`.
static void EnvNumber(const char* name, double lo, double hi, const char* what, const char* otherwise, double* v) {
  const std::string text = EnvOr(name, "");
  if (text.empty() || ParseNumber(text, lo, hi, v)) return;
  std::fprintf(stderr, "WARNING: %s=%s is not %s in %g..%g; %s.\n", name, text.c_str(), what, lo, hi, otherwise);
}

// ORVANTE_CAMERA_ON=1: the camera is switched on at start. ORVANTE_CAMERA_RETRY=SECONDS: how
// often a lost camera is tried again (0..3600, fractions allowed); anything else is named and
// ignored: the player keeps the lost-camera-stays-off rule. ORVANTE_CAMERA_FPS=R: the pace of a
// recorded camera in the real window (1..1000 frames per second, default 60).
static void ReadCameraEnvironment() {
  app.CameraAtStart = EnvOr("ORVANTE_CAMERA_ON", "") == "1" ? 1 : 0;
  EnvNumber("ORVANTE_CAMERA_RETRY", 0.0, 3600.0, "a number of seconds", "a lost camera stays off", &player.CameraRetry);
  EnvNumber("ORVANTE_CAMERA_FPS", 1.0, 1000.0, "a rate in frames per second",
            "a recording keeps 60 frames per second", &player.CameraPace);
}

// ORVANTE_FRAME_CACHE_MB=MB: the read-ahead frame cache's budget (unset: a quarter of the
// physical memory, at most 2,048 MB; 0: each frame decoded on the cycle, one kept). A value that
// is not a number of megabytes within the physical memory is named and the cache stays off.
static void StartFrameCacheFromEnvironment() {
  const std::string text = EnvOr("ORVANTE_FRAME_CACHE_MB", "");
  size_t bytes = 0;
  if (!FrameCacheBudget(text, &bytes))
    std::fprintf(stderr, "WARNING: ORVANTE_FRAME_CACHE_MB=%s is not a number of megabytes within the physical memory; "
                 "frames are decoded as they are shown, one kept.\n", text.c_str());
  // One worker a core: they run at the lowest priority, on what the cycle leaves of each core.
  StartFrameCache(bytes, std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4));
}

int OrvanteMain(int argc, char** argv) {
  ConsoleInit();
  // Missing optional images are part of normal operation; the library must not chatter about them.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
  PrintStartBanner();
  PrintWorkingDirectory();
  TakeCommandLine(argc, argv);
  if (app.ArgCount >= 2) EndProcess(RunBatchCopy());

  player.Random.seed(static_cast<unsigned>(std::time(nullptr)));
  ReadCameraEnvironment();

  if (EnvOr("ORVANTE_HEADLESS", "") == "1") {
    UseHeadlessDisplay();
    display.hd.escWhenUsedUp = true;  // no script, or a used-up one: the run still ends
    const std::string script = EnvOr("ORVANTE_SCRIPT", "");
    std::string err;
    if (!script.empty() && !LoadScriptFile(script, &err)) {
      std::fprintf(stderr, "ERROR: %s\n", err.c_str());
      return 2;
    }
  } else {
    std::string why;
    if (!WindowSystemAvailable(&why)) {
      std::fprintf(stderr, "ERROR: cannot open the player window: %s\n", why.c_str());
      return 1;
    }
    display.fullscreen = EnvOr("ORVANTE_FULLSCREEN", "") == "1";
  }

  // The engine keeps the window responsive while it loads or saves a knowledge base.
  EnginePumpEvents = [] { DisplayWaitKey(1); };
  CreatePlayerWindow(0, OnMouse);
  ReadCameraSettings();
  LoadInterfaceImages();
  StartFrameCacheFromEnvironment();
  const int code = RunMainLoop();
  StopFrameCache();  // the player's end: no worker decodes on
  return code;
}

}  // namespace orv

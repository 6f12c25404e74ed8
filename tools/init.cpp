// Sets up an installation: DIR/work (the working directory with parameter files, camera
// settings and interface images) and DIR/S001 (the first content), optionally filled with
// pictures. Existing files are never touched.
//   orvante-init DIR [IMAGES...]
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/platform.h"
#include "control/env_items.h"
#include "control/installation.h"
#include "player/player.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

int failures = 0;

void Report(const fs::path& p, NewFile r, const char* what) {
  switch (r) {
    case NewFile::Written:
      std::printf("written: %s  (%s)\n", p.c_str(), what);
      break;
    case NewFile::Kept:
      std::printf("kept:    %s  (it exists; not changed)\n", p.c_str());
      break;
    case NewFile::Failed:
      std::fprintf(stderr, "ERROR: cannot write %s\n", p.c_str());
      ++failures;
      break;
  }
}

// A kept parameter file may name another frame count than the content now holds.
void CheckKeptCount(const fs::path& env, int frames) {
  EnvDocument doc;
  std::string err;
  if (!ReadEnvFile(env.string(), &doc, &err)) return;
  const int item = FindEnvItem("MaxCount");
  if (static_cast<int>(doc.values.size()) <= item || frames == 0) return;
  const int count = static_cast<int>(doc.values[static_cast<size_t>(item)]);
  if (count == frames) return;
  std::printf("note:    %s plays %d frames but S001 holds %d; to play them all:\n", env.c_str(), count, frames);
  std::printf("           orvante-env %s MaxCount=%d\n", env.c_str(), frames);
}

// The player beside this tool when it runs from a build folder, else the installed one.
std::string PlayerCommand(const char* argv0) {
  const fs::path beside = fs::path(argv0).parent_path() / "orvante";
  std::error_code ec;
  if (argv0[0] == '/' && fs::exists(beside, ec)) return beside.string();
  return "orvante";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr,
                 "usage: orvante-init DIR [IMAGES...]\n"
                 "  makes DIR/work (start the player there) and DIR/S001 (the frames), copying the\n"
                 "  named pictures into DIR/S001 in name order; existing files are kept.\n");
    return 2;
  }
  const fs::path root = argv[1];
  const fs::path work = root / "work", content = root / "S001";
  std::error_code ec;
  fs::create_directories(work, ec);
  if (!ec) fs::create_directories(content, ec);
  if (ec) {
    std::fprintf(stderr, "ERROR: cannot create %s: %s\n", root.c_str(), ec.message().c_str());
    return 1;
  }

  if (argc > 2) {
    const std::vector<std::string> images(argv + 2, argv + argc);
    const FrameCopyResult r = CopyFramesToContent(images, content.string());
    failures += r.failed;
  }
  const int frames = CountContentFrames(content.string());

  Report(work / "zav_env.dat", WriteNewFile((work / "zav_env.dat").string(), EnvFileText(InstallationEnvValues(frames))),
         "player parameters: one frame per cycle of motion, quiet console");
  CheckKeptCount(work / "zav_env.dat", frames);
  Report(work / "ZAV_THRESHOLD.dat",
         WriteNewFile((work / "ZAV_THRESHOLD.dat").string(), std::to_string(kInstallationThreshold) + "\n"),
         "motion threshold");
  Report(work / "SetCamera3.txt", WriteNewFile((work / "SetCamera3.txt").string(), CameraSettingsText(0, 1, 0, 0)),
         "camera 0, mirrored");
  Report(work / "keyallocation_01.jpg", WriteNewImage((work / "keyallocation_01.jpg").string(), KeyChartImage()),
         "pause screen with the key chart");
  Report(work / "to_left.jpg", WriteNewImage((work / "to_left.jpg").string(), SideArrowImage(true)), "side image");
  Report(work / "to_right.jpg", WriteNewImage((work / "to_right.jpg").string(), SideArrowImage(false)), "side image");

  const std::string player = PlayerCommand(argv[0]);
  std::printf("\n%s holds %d frame%s.\n", content.c_str(), frames, frames == 1 ? "" : "s");
  std::printf("Next steps:\n");
  std::printf("  1. Frames: pictures go into %s as clip_00000.jpg, clip_00001.jpg, ...\n", content.c_str());
  std::printf("     From %s, '%s a.jpg b.jpg ...' copies pictures there in name order.\n", work.c_str(),
              player.c_str());
  if (frames == 0)
    std::printf("     Then 'orvante-env %s MaxCount=N' with N the number of frames.\n", (work / "zav_env.dat").c_str());
  std::printf("  2. Camera: %s names camera 0 (/dev/video0) in its third line. List the cameras\n",
              (work / "SetCamera3.txt").c_str());
  std::printf("     with 'v4l2-ctl --list-devices' (Debian package v4l-utils) and put another number there.\n");
  std::printf("  3. Start: cd %s && %s\n", work.c_str(), player.c_str());
  std::printf("     Press q (or the right mouse button) in the picture window to switch the camera on;\n");
  std::printf("     v / V lower / raise the motion threshold, ESC pauses, ESC again quits.\n");
  std::printf("     'orvante-env %s' lists the player parameters.\n", (work / "zav_env.dat").c_str());
  return failures > 0 ? 1 : 0;
}

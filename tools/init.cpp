// Sets up an installation: DIR/work (the working directory with parameter files, camera
// settings and interface images) and DIR/S001 (the first content), optionally filled with
// pictures and the frames of videos. Existing files are never touched.
//   orvante-init [OPTIONS] DIR [VIDEO|IMAGE...]
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/platform.h"
#include "control/env_items.h"
#include "control/installation.h"
#include "player/player.h"
#include "player/player_state.h"

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

int Usage(const char* why) {
  if (why) std::fprintf(stderr, "orvante-init: %s\n", why);
  std::fprintf(stderr,
               "usage: orvante-init [OPTIONS] DIR [VIDEO|IMAGE...]\n"
               "  makes DIR/work (start the player there) and DIR/S001 (the frames): pictures are\n"
               "  copied and every frame of a video is written there, in name order; existing files are kept.\n"
               "  --every N     keep every Nth frame of a video      --fps R      keep R frames per second of video\n"
               "  --height H    scale to H pixels high                --quality Q  JPEG quality 1..100 (95)\n"
               "  --from S      start S seconds into each video       --to S       stop S seconds into each video\n");
  return 2;
}

// Options anywhere on the line ("--name value" or "--name=value"; "--" ends them); the rest in order.
bool ParseArguments(int argc, char** argv, ImportOptions* o, std::vector<std::string>* words, std::string* why) {
  bool sawEvery = false, sawFps = false, optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (optionsEnd || a.rfind("--", 0) != 0) {
      words->push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnd = true;
      continue;
    }
    std::string value;
    const size_t eq = a.find('=');
    if (eq != std::string::npos) {
      value = a.substr(eq + 1);
      a.resize(eq);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      *why = a + " needs a value";
      return false;
    }
    double v = 0;
    const char* text = value.c_str();
    bool ok;
    if (a == "--every") {
      ok = sawEvery = ParseNumber(text, 1, 1e6, &v) && v == std::floor(v);
      o->every = static_cast<int>(v);
    } else if (a == "--fps") {
      ok = sawFps = ParseNumber(text, 1e-3, 1000, &v);
      o->fps = v;
    } else if (a == "--height") {
      ok = ParseNumber(text, 1, 16384, &v) && v == std::floor(v);
      o->height = static_cast<int>(v);
    } else if (a == "--quality") {
      ok = ParseNumber(text, 1, 100, &v) && v == std::floor(v);
      o->quality = static_cast<int>(v);
    } else if (a == "--from") {
      ok = ParseNumber(text, 0, 1e7, &v);
      o->from = v;
    } else if (a == "--to") {
      ok = ParseNumber(text, 0, 1e7, &v);
      o->to = v;
    } else {
      *why = "unknown option " + a;
      return false;
    }
    if (!ok) {
      *why = "bad value for " + a + ": " + value;
      return false;
    }
  }
  if (sawEvery && sawFps) *why = "--every and --fps cannot be given together";
  else if (o->to >= 0 && o->to <= o->from) *why = "--to must lie after --from";
  else if (words->empty()) *why = "no DIR given";
  return why->empty();
}

}  // namespace

int main(int argc, char** argv) {
  ImportOptions options;
  std::vector<std::string> words;
  std::string why;
  if (!ParseArguments(argc, argv, &options, &words, &why)) return Usage(argc > 1 ? why.c_str() : nullptr);
  const fs::path root = words[0];
  const fs::path work = root / "work", content = root / "S001";
  RemoveLeftoverStaging(content.string());

  // Every source is opened before anything is written: one that is neither a picture nor a
  // video that can be read stops the run.
  std::vector<std::string> names(words.begin() + 1, words.end());
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string& a, const std::string& b) { return std::strcmp(a.c_str(), b.c_str()) < 0; });
  std::vector<ImportSource> sources(names.size());
  int refused = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    if (ProbeImportSource(names[i], &sources[i], &why)) continue;
    std::fprintf(stderr, "ERROR: %s: %s\n", names[i].c_str(), why.c_str());
    ++refused;
  }
  if (refused > 0) {
    std::fprintf(stderr, "Nothing was written.\n");
    return 1;
  }
  int added = 0;
  if (!sources.empty() && !ImportToContent(sources, content.string(), options, &added)) return 1;

  std::error_code ec;
  fs::create_directories(work, ec);
  if (!ec) fs::create_directories(content, ec);
  if (ec) {
    std::fprintf(stderr, "ERROR: cannot create %s: %s\n", root.c_str(), ec.message().c_str());
    return 1;
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
  std::printf("     'orvante-init %s VIDEO' adds the frames of a video (--every N keeps every Nth).\n", root.c_str());
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

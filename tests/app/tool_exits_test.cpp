// Every way orvante-tune and orvante-replay end, in one table: the exit code, and the reason as
// the errors' last line. Scripts and service units branch on these codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/tune.h"
#include "control/env_items.h"
#include "control/installation.h"
#include "support/process.h"

namespace fs = std::filesystem;
using namespace orvtest;

namespace {

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> lines;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// `still` frames of a wall, `moving` frames of a block jumping 40 pixels a frame, `after` still
// frames again; w x h (the player scales other sizes to 320x240). A corner flickers
// with a camera's noise: a still cycle measures a little, never nothing.
std::string Recording(const fs::path& dir, int still, int moving, int after = 0, int w = 320, int h = 240) {
  fs::create_directories(dir);
  for (int i = 0; i < still + moving + after; ++i) {
    cv::Mat f(h, w, CV_8UC3, cv::Scalar(80, 80, 80));
    f(cv::Rect(0, 0, 4, 4)).setTo(cv::Scalar::all(i % 2 ? 90 : 80));  // on the sample grid, mirrored or not
    if (i >= still && i < still + moving)
      cv::rectangle(f, cv::Rect((i % 4) * 40 * w / 320, h / 5, w / 4, h / 2), cv::Scalar::all(230), cv::FILLED);
    char name[32];
    std::snprintf(name, sizeof name, "f_%04d.png", i);
    EXPECT_TRUE(cv::imwrite((dir / name).string(), f));
  }
  return (dir / "f_%04d.png").string();
}

}  // namespace

TEST(ToolExits, EveryCodeOfTuneAndReplayWithItsReason) {
  TempDir d;
  fs::create_directories(d.path / "work");
  WriteFile(d.path / "file", "a regular file: nothing can be written under it\n");
  const std::string room = Recording(d.path / "room", 30, 30, 30);
  const std::string still = Recording(d.path / "still", 30, 0);
  const std::string one = Recording(d.path / "one", 1, 0);
  const std::string big = Recording(d.path / "big", 0, 3, 0, 640, 480);
  // A replay period of one frame is no period: a burst moves through the content's frames.
  orv::EnvValues env = orv::InstallationEnvValues(2);
  env[static_cast<size_t>(orv::FindEnvItem("StartFrameNum"))] = 1;
  env[static_cast<size_t>(orv::FindEnvItem("EndFrameNum"))] = 1;
  WriteFile(d.path / "work/zav_env.dat", orv::EnvFileText(env));
  const std::string missing = (d.path / "room/none_%04d.png").string();
  WriteFile(d.path / "junk.avi", std::string(4096, 'x'));  // no video: the decoder must not chatter
  const std::string underFile = (d.path / "file/plot.png").string();
  const std::string tune = ORVANTE_TUNE_TOOL, replay = ORVANTE_REPLAY_TOOL;

  struct Case {
    std::vector<std::string> argv;
    int code;
    std::string says;     // with 0 a line of the output, else the last line of the errors
    bool content = true;  // the working directory has its content folder
    bool alone = false;   // refused before the set-up said anything: the reason is the only line
  } cases[] = {
      {{tune, "--camera", room}, 0, "of the content's 2 frames)"},
      {{tune, "--speed", "2"}, 1, "unknown argument --speed", true, true},
      {{tune, "--workdir", d.path / "file", "--camera", room}, 1, "cannot enter the working directory", true, true},
      {{tune, "--camera", missing}, 3, "cannot open the recording", true, true},
      {{tune, "--camera", d.path / "junk.avi"}, 3, "cannot open the recording", true, true},
      {{tune, "--camera", one}, 3, "the recording " + one + " has fewer than two frames"},
      {{tune, "--camera", still}, 4, "no clear separation"},
      {{tune, "--camera", room, "--plot", underFile}, 5, "cannot write " + underFile},
      {{tune, "--camera", room}, 6, "the set-up of the working directory ended the run", false},
      {{replay, "--camera", big}, 0, "the recording's frames are 640x480; they are scaled to 320x240."},
      {{replay}, 1, "--camera PATH is needed", true, true},
      {{replay, "--camera", big, "--learn", "8"}, 1, "--learn takes a gesture 0..7", true, true},
      {{replay, "--camera", big, "--passes", "2"}, 1, "--passes needs --learn", true, true},
      {{replay, "--camera", big, "--learn", "0", "--passes", "0"}, 1, "--passes takes a number of passes", true, true},
      {{replay, "--camera", big, "--plot", "p.jpg"}, 1, "--plot writes a PNG file", true, true},
      {{replay, "--camera", big, "--speed", "2"}, 1, "unknown argument --speed", true, true},
      {{replay, "--camera", big, "--workdir", d.path / "nowhere"}, 1, "cannot enter the working directory", true, true},
      {{replay, "--camera", big, "--trace", d.path / "file/t.csv"}, 1, "cannot write the trace", true, true},
      {{replay, "--camera", big, "--save"}, 2, "nothing was saved: no gesture has been taught"},
      {{replay, "--camera", big, "--learn", "0", "--save"}, 2, "learning was still running at the end"},
      {{replay, "--camera", missing}, 3, "cannot open the recording", true, true},
      {{replay, "--camera", big}, 4, "the set-up in . ended the run", false},
      {{replay, "--camera", big, "--plot", underFile}, 5, "cannot write " + underFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argv[0].substr(c.argv[0].rfind('/') + 1) + ": " + c.says);
    if (c.content)
      MakeContent(d.path, 0, 2);
    else
      fs::remove_all(d.path / "S001");
    ProcOptions opt;
    opt.cwd = d.path / "work";
    opt.timeoutSeconds = 120;
    const ProcResult r = RunProcess(c.argv, opt);
    EXPECT_EQ(r.exitCode, c.code) << r.out << r.err;
    if (c.code == 0) {
      EXPECT_EQ(CountOf(r.out + r.err, c.says), 1) << r.out << r.err;
      continue;
    }
    if (c.argv.size() > 2 && c.argv[2] == one) {
      EXPECT_NE(r.out.find(", 1 frames\n"), std::string::npos) << r.out;
    }
    const std::vector<std::string> lines = Lines(r.err);
    ASSERT_FALSE(lines.empty());
    if (c.alone) {
      EXPECT_EQ(lines.size(), 1u) << r.err;
    }
    const std::string tool = c.argv[0].substr(c.argv[0].rfind('/') + 1) + ": ";
    EXPECT_EQ(CountOf(r.err, tool), 1) << r.err;
    EXPECT_EQ(lines.back().rfind(tool + c.says, 0), 0u) << r.err;
  }
}

TEST(ToolExits, TuneArgumentsAtTheirBoundsAndOnePast) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
  } cases[] = {
      {{"--workdir", "w", "--camera", "c.png", "--span", "0.25", "--apply", "--plot", "p.png"}, ""},
      {{"--record", "3600", "--out", "o"}, ""},
      {{"--record", "1", "--span", "1"}, ""},
      {{"--record", "3601"}, "--record takes whole seconds, 1..3600"},
      {{"--record", "0"}, "--record takes whole seconds, 1..3600"},
      {{"--record", "2.5"}, "--record takes whole seconds, 1..3600"},
      {{"--camera", "c", "--span", "0"}, "--span takes a share of the content, 0 < F <= 1"},
      {{"--camera", "c", "--span", "1.01"}, "--span takes a share of the content, 0 < F <= 1"},
      {{"--camera", "c", "--span", "0.5x"}, "--span takes a share of the content, 0 < F <= 1"},
      {{"--camera"}, "--camera needs a value"},
      {{"--camera", ""}, "--camera needs a value"},
      {{"--camera", "c", "--out", "o"}, "--out names the folder of --record"},
      {{}, "either --camera PATH or --record SECONDS is needed"},
      {{"--camera", "c", "--plot", "p.jpg"}, "--plot writes a PNG file: name it FILE.png"},
  };
  for (const Case& c : cases) {
    orv::TuneOptions o;
    std::string err;
    EXPECT_EQ(orv::ParseTuneArgs(c.args, &o, &err), c.error.empty()) << err;
    EXPECT_EQ(err, c.error);
  }
}

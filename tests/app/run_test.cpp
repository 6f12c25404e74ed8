// The real player binary, end to end.
#include <gtest/gtest.h>

#include "common/platform.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "player/frame_index.h"
#include "support/ci.h"
#include "support/process.h"
#include "support/xvfb.h"

namespace fs = std::filesystem;
using namespace orvtest;

namespace {

constexpr const char* kPlayer = "ORVANTE  Ver.1.1";

struct Stage {
  TempDir root;
  fs::path work = root.path / "work";
  explicit Stage(int frames, int w = 64, int h = 48) {
    fs::create_directories(work);
    MakeContent(root.path, 0, frames, w, h);
  }
  ProcResult RunHeadless(const std::string& script) {
    WriteFile(work / "script.txt", script);
    ProcOptions opt;
    opt.cwd = work;
    opt.env = {{"ORVANTE_HEADLESS", "1"}, {"ORVANTE_SCRIPT", (work / "script.txt").string()}};
    return RunProcess({ORVANTE_BINARY}, opt);
  }
};

size_t Pos(const std::string& out, const std::string& what) {
  size_t p = out.find(what);
  EXPECT_NE(p, std::string::npos) << "missing: " << what;
  return p;
}

}  // namespace

TEST(PlayerRun, HeadlessStartPauseAndQuit) {
  Stage s(5);
  ProcResult r = s.RunHeadless("2 x\n4 ESC\n5 ESC\n");
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string& o = r.out;
  // Start-up, set-up and the two block-letter ends, in this order.
  std::string banner = "//    O  R  V  A  N  T  E    Ver. 1.1   ( " + orv::PlatformName() + " Version )";
  banner.resize(80, ' ');
  size_t a = Pos(o, banner + "//\n");
  size_t b = Pos(o, s.work.string() + "\n");
  size_t c = Pos(o, std::string("[0]") + ORVANTE_BINARY + "\n");
  size_t d = Pos(o, "\nTotal length of file name strings = " + std::to_string(std::string(ORVANTE_BINARY).size()) + "\n");
  size_t e = Pos(o, "The system is starting up. This may take a while.\n\n");
  size_t f = Pos(o, "*** Finished. Thank you for waiting! ***");
  size_t g = Pos(o, orv::JapaneseMessages() ? "[ ORVANTE Ver.1.1 機能一覧 ]" : "[ ORVANTE Ver.1.1 Function List ]");
  size_t h = Pos(o, " OOOO    OOO   O   O   OOOO  OOOOO  O \n");
  size_t i = Pos(o, "OOO   OOOO   OOOO      O     OOO   OOO  O   O\n\n");
  EXPECT_TRUE(a < b && b < c && c < d && d < e && e < f && f < g && g < h && h < i);
}

TEST(PlayerRun, HeadlessRunsEndWhenTheirScriptIsUsedUp) {
  Stage s(4);
  ProcOptions opt;
  opt.cwd = s.work;
  opt.env = {{"ORVANTE_HEADLESS", "1"}};
  opt.unsetEnv = {"ORVANTE_SCRIPT"};
  opt.timeoutSeconds = 30;
  ProcResult none = RunProcess({ORVANTE_BINARY}, opt);  // no script at all
  ProcResult resumed = s.RunHeadless("2 x\n3 ESC\n3 ENTER\n");
  for (const ProcResult* r : {&none, &resumed}) {
    EXPECT_FALSE(r->timedOut);
    EXPECT_EQ(r->exitCode, 0) << r->err;
    EXPECT_NE(r->out.find("OOO   OOOO   OOOO      O     OOO   OOO  O   O\n"), std::string::npos);  // See you!
  }
  EXPECT_EQ(CountOf(resumed.out, " OOOO    OOO   O   O   OOOO  OOOOO  O \n"), 2);  // paused twice
}

TEST(PlayerRun, PauseEditsDThresholdAndEnterResumes) {
  Stage s(3);
  ProcResult r = s.RunHeadless("2 ESC\n2 e\n2 d\n2 d\n2 ENTER\n6 ESC\n6 ESC\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("SET: DThreshold = [ 41 ]\nSET: DThreshold = [ 40 ]\nSET: DThreshold = [ 39 ]\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("\n  OOO            O \n"), std::string::npos);  // GO!
  EXPECT_EQ(CountOf(r.out, " OOOO    OOO   O   O   OOOO  OOOOO  O \n"), 2);
}

TEST(PlayerRun, BrokenFrameImageEndsWithItsNameAndFailure) {
  Stage s(2);
  WriteFile(s.root.path / "S001/clip_00000.jpg", "garbage");
  ProcResult r = s.RunHeadless("");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("../S001/clip_00000.jpg"), std::string::npos) << r.err;
}

TEST(PlayerRun, NoDisplayIsOneClearLineNotACrash) {
  Stage s(2);
  ProcOptions opt;
  opt.cwd = s.work;
  opt.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "ORVANTE_HEADLESS"};
  ProcResult r = RunProcess({ORVANTE_BINARY}, opt);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(CountOf(r.err, "\n"), 1) << r.err;
  EXPECT_NE(r.err.find("DISPLAY"), std::string::npos);
}

TEST(PlayerRun, RealWindowShowsTheFirstFrame) {
  Xvfb x;
  std::string why;
  ORVTEST_NEED(x.Start(&why), why);
  Stage s(3, 320, 240);
  ProcOptions opt;
  opt.cwd = s.work;
  opt.env = x.Env();
  opt.unsetEnv = {"ORVANTE_HEADLESS"};
  pid_t pid = StartProcess({ORVANTE_BINARY}, opt, s.work / "out.txt", s.work / "err.txt");
  const std::string win = x.FindWindow("ORVANTE  Ver.1.1", 20.0);
  if (win.empty()) {
    ::kill(pid, SIGKILL);
    WaitProcess(pid, 5.0);
    FAIL() << "no player window; the player said:\n" << ReadFile(s.work / "err.txt");
  }
  // Frame 0 is BGR (0, 0, 128) with a white band on its left: look for both on screen.
  cv::Mat shot;
  int frameish = 0;
  for (int tries = 0; tries < 50 && frameish < 5000; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    shot = x.Screenshot();
    if (shot.empty()) continue;
    cv::Mat mask;
    cv::inRange(shot, cv::Scalar(0, 0, 108), cv::Scalar(20, 20, 148), mask);
    frameish = cv::countNonZero(mask);
  }
  EXPECT_GT(frameish, 5000) << "the first frame is not on screen";
  // Quit as an operator would: ESC pauses, ESC ends.
  x.Run("xdotool windowfocus --sync " + win);
  x.Run("xdotool key --delay 300 Escape Escape");
  bool timedOut = false;
  const int code = WaitProcess(pid, 15.0, &timedOut);
  EXPECT_FALSE(timedOut) << "ESC ESC did not end the player";
  if (!timedOut) {
    EXPECT_EQ(code, 0);
  }
}

TEST(PlayerRun, HeadlessScriptThatCannotBeTakenEndsWithCode2AndItsLine) {
  Stage s(2);
  const struct {
    const char* script;  // nullptr: no such file
    const char* message;
  } cases[] = {
      {nullptr, "ERROR: cannot open script "},
      {"1 x\nfive ESC\n", "ERROR: script line 2: expected a cycle number"},
      {"1 x\n2 F13\n", "ERROR: script line 2: unknown event 'F13'"},
      {"1 #256\n", "ERROR: script line 1: unknown event '#256'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ProcOptions opt;
    opt.cwd = s.work;
    const fs::path script = s.work / (c.script ? "script.txt" : "missing.txt");
    if (c.script) WriteFile(script, c.script);
    opt.env = {{"ORVANTE_HEADLESS", "1"}, {"ORVANTE_SCRIPT", script.string()}};
    ProcResult r = RunProcess({ORVANTE_BINARY}, opt);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
  }
}

// Values a hand-edited installation may hold that mean nothing to the player: each file is read
// and the player runs its cycles, camera on and off, and ends as asked.
TEST(PlayerRun, ValuesThatMeanNothingInEveryFileRunWithoutHarm) {
  Stage s(3);
  // Items 1..17: Direction 7, BurstFlip and BurstReset at the ends of int, KeyFrameMode -4,
  // IdleCount/IdleLimit -1, MonitorMode 5, PreviewMode 9, WrapFlag -1, PlayState 99; the
  // optional five: a replay period 0..2, mouse flags -1 and 7.
  std::string env = "2 0 3 0 100 7 1.0 -2147483648 2147483647 -4 -1 -1 5 9 -1 99 3\n";
  for (int i = 0; i < 1280; ++i) env += i == 1 ? "-5 " : "0 ";
  WriteFile(s.work / "zav_env.dat", env + "\n0 2 -1 7 0\n");
  WriteFile(s.work / "SetCamera3.txt", "3 -1 40 5 2\n");  // channel 40: no shared word
  WriteFile(s.work / "ZAV_THRESHOLD.dat", "-5");
  WriteFile(s.work / "not_an_image.jpg", "garbage");
  std::string err;
  ASSERT_TRUE(orv::WriteFrameIndex((s.work / "frame_data0001.dat").string(),
                                   {{"../S001/clip_00000.jpg", "missing_link.jpg", "not_an_image.jpg"},
                                    {"../S001/clip_00001.jpg", "not_an_image.jpg", "missing.jpg"},
                                    {"../S001/clip_00002.jpg", "", ""}},
                                   &err))
      << err;
  for (int i = 0; i < 4; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "cam_%04d.png", i);
    cv::imwrite((s.root.path / name).string(), cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(i % 2 ? 200 : 20)));
  }
  WriteFile(s.work / "script.txt", "1 q\n10 f\n12 b\n20 LCLICK\n30 q\n35 ESC\n36 ESC\n");
  ProcOptions opt;
  opt.cwd = s.work;
  opt.env = {{"ORVANTE_HEADLESS", "1"},
             {"ORVANTE_SCRIPT", (s.work / "script.txt").string()},
             {"ORVANTE_CAMERA", (s.root.path / "cam_%04d.png").string()}};
  ProcResult r = RunProcess({ORVANTE_BINARY}, opt);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("SET: CamChan      = 40"), std::string::npos);
  EXPECT_NE(r.out.find("DISP: FrameData[     0 ].http[2] = [missing_link.jpg]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("SET(1): MouseVertFlag    = 7"), std::string::npos);
}

// An installation started by the computer: the camera goes on by itself, and a camera that
// stops delivering is opened again (here a recording without loop stands for it).
TEST(PlayerRun, UnattendedCameraStartsOnItsOwnAndComesBackAfterALoss) {
  Stage s(4);
  for (int i = 0; i < 6; ++i) {
    cv::Mat f(240, 320, CV_8UC3, cv::Scalar(20, 20, 20));
    cv::rectangle(f, cv::Rect(20 + 40 * i, 60, 60, 120), cv::Scalar(230, 230, 230), cv::FILLED);
    char name[32];
    std::snprintf(name, sizeof name, "cam_%04d.png", i);
    cv::imwrite((s.root.path / name).string(), f);
  }
  WriteFile(s.work / "script.txt", "2000 ESC\n2001 ESC\n");
  ProcOptions opt;
  opt.cwd = s.work;
  opt.env = {{"ORVANTE_HEADLESS", "1"},
             {"ORVANTE_SCRIPT", (s.work / "script.txt").string()},
             {"ORVANTE_CAMERA", (s.root.path / "cam_%04d.png").string()},
             {"ORVANTE_CAMERA_LOOP", "0"},
             {"ORVANTE_CAMERA_ON", "1"},
             {"ORVANTE_CAMERA_RETRY", "0.001"}};
  const ProcResult r = RunProcess({ORVANTE_BINARY}, opt);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err.find("WARNING: ORVANTE_CAMERA"), std::string::npos) << r.err;  // a good value is not named
  EXPECT_GE(CountOf(r.out, "cvQueryFrame() failed in ZAV_Capture()."), 2);
  EXPECT_GE(CountOf(r.out, "The camera answers again."), 2);
  EXPECT_EQ(CountOf(r.out, "The camera will be opened again every 0.001 s until it answers."),
            CountOf(r.out, "cvQueryFrame() failed in ZAV_Capture()."));

  // A retry interval that is not a number of seconds is named, and a loss is then final.
  opt.env["ORVANTE_CAMERA_RETRY"] = "10s";
  opt.env["ORVANTE_CAMERA_FPS"] = "0.5";
  const ProcResult bad = RunProcess({ORVANTE_BINARY}, opt);
  EXPECT_EQ(bad.exitCode, 0) << bad.err;
  EXPECT_NE(bad.err.find("WARNING: ORVANTE_CAMERA_RETRY=10s is not a number of seconds in 0..3600"),
            std::string::npos);
  EXPECT_NE(bad.err.find("WARNING: ORVANTE_CAMERA_FPS=0.5 is not a rate in frames per second in 1..1000"),
            std::string::npos);
  EXPECT_EQ(CountOf(bad.out, "cvQueryFrame() failed in ZAV_Capture()."), 1);
  EXPECT_EQ(CountOf(bad.out, "The camera answers again."), 0);
}

// Private memory of a running player once set-up is over and the first frame was saved (t). The
// big tables that no frame, knowledge base or pass uses (frame table, protocol map, learning
// samples: 41 MB) must stay untouched; what the player needs besides is 20 MB (19.9 MB here, the same to a few kB in every run).
TEST(PlayerRun, StartUpLeavesTheUnusedTablesUntouched) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's shadow memory is private memory of its own";
#endif
  Stage s(3);
  WriteFile(s.work / "script.txt", "3 t\n2000000000 ESC\n");
  const ProcOptions opt{s.work, {{"ORVANTE_HEADLESS", "1"}, {"ORVANTE_SCRIPT", (s.work / "script.txt").string()}}, {}};
  pid_t pid = StartProcess({ORVANTE_BINARY}, opt, s.work / "out.txt", s.work / "err.txt");
  for (int i = 0; i < 300 && !fs::exists(s.root.path / "clip_00000.jpg"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
  StopProcess(pid);
  const size_t at = status.find("RssAnon:");
  ASSERT_NE(at, std::string::npos) << ReadFile(s.work / "err.txt");
  const long kb = std::stol(status.substr(at + 8));
  EXPECT_LT(kb, 22 * 1024) << "RssAnon " << kb << " kB";
}

// A 3840x2160 content on a 1920x1080 screen without a window manager: the window fits the
// screen (the whole picture on it, proportions kept) and the camera preview sits beside it.
TEST(PlayerRun, RealWindowFitsALargePictureWithThePreviewBeside) {
  Xvfb x;
  std::string why;
  ORVTEST_NEED(x.Start(&why, 1920, 1080), why);
  Stage s(2, 3840, 2160);
  cv::imwrite((s.root.path / "cam.png").string(), cv::Mat(240, 320, CV_8UC3, cv::Scalar(90, 90, 90)));
  ProcOptions opt{s.work, x.Env(), {"ORVANTE_HEADLESS"}};
  opt.env.insert({{"ORVANTE_CAMERA", (s.root.path / "cam.png").string()}, {"ORVANTE_CAMERA_ON", "1"}});
  const pid_t pid = StartProcess({ORVANTE_BINARY}, opt, s.work / "out.txt", s.work / "err.txt");
  std::map<std::string, int> g[2];  // player window, preview: X, Y, WIDTH, HEIGHT
  for (int i = 0; i < 60 && (g[0]["WIDTH"] < 1000 || g[0]["WIDTH"] > 1920 || g[1]["X"] <= 0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    for (int w = 0; w < 2; ++w) {
      std::istringstream in(x.Run("xdotool getwindowgeometry --shell " + x.FindWindow(w ? "処理中の画像" : kPlayer, 20)));
      for (std::string l; std::getline(in, l);) g[w][l.substr(0, l.find('='))] = std::atoi(l.c_str() + l.find('=') + 1);
    }
  }
  const int right = g[0]["X"] + g[0]["WIDTH"], bottom = g[0]["Y"] + g[0]["HEIGHT"];
  EXPECT_TRUE(right <= 1920 - 80 && bottom <= 1080 && g[1]["X"] >= right && g[1]["X"] + g[1]["WIDTH"] <= 1920);
  EXPECT_NEAR(g[0]["WIDTH"] * 9.0 / 16.0, g[0]["HEIGHT"], 2.0);  // proportions kept
  // The picture's far corner is on the screen: frame 0's colour. On a loaded machine the X
  // server may know the window's size a while before the toolkit paints it: wait for the paint.
  double off = 1e9;
  for (int i = 0; i < 40 && off >= 25.0; ++i) {
    if (i) std::this_thread::sleep_for(std::chrono::milliseconds(250));
    const cv::Mat shot = x.Screenshot();
    ASSERT_FALSE(shot.empty());
    off = cv::norm(shot.at<cv::Vec3b>(bottom - 20, right - 20), cv::Vec3b(0, 0, 128));
  }
  EXPECT_LT(off, 25.0);
  StopProcess(pid);
}

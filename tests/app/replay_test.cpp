// The replay tool against the player's own cycle: same frames, same values.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/app.h"
#include "app/replay.h"
#include "app/app_state.h"
#include "common/timer.h"
#include "control/control_state.h"
#include "common/display.h"
#include "kb/learning_state.h"
#include "learning/learning_work.h"
#include "player/player_state.h"
#include "recognition/engine_setup.h"
#include "recognition/recognition_state.h"
#include "player/player.h"
#include "support/process.h"
#include "app/main_loop.h"
#include "player/display_step.h"
#include "control/control.h"
#include "control/operator_view.h"
#include "control/teaching.h"
#include "player/motion.h"
#include "learning/learning.h"

namespace fs = std::filesystem;
using namespace orv;
using namespace orvtest;

namespace {

ProcResult Replay(const std::vector<std::string>& args, const fs::path& cwd) {
  std::vector<std::string> argv{ORVANTE_REPLAY_TOOL};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcOptions opt;
  opt.cwd = cwd;
  opt.timeoutSeconds = 240;
  return RunProcess(argv, opt);
}

std::vector<std::string> SplitLines(const std::string& s) {
  std::vector<std::string> lines;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// The demo: a working directory, a 40-frame content and a 180-frame recording of a figure
// walking and standing still, whose motion crosses the demo's threshold both ways.
struct Demo {
  TempDir root;
  fs::path work = root.path / "work";
  std::string camera = (root.path / "camera/motion_%04d.png").string();
  Demo() {
    ProcOptions opt;
    opt.cwd = root.path;
    EXPECT_EQ(RunProcess({ORVANTE_DEMO_TOOL, root.path.string(), "40"}, opt).exitCode, 0);
  }
};

// The values of the player's cycle, in the trace's order, formatted here on their own.
std::string PlayerCycleLine() {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%ld,%.6f,%d,%d,%d,%.6f,%.6f,%.6f,%d,%d,%d,%d,%d,%d,%d,%.6f,%d,%d", app.Cycle,
                player.frame_no, player.DifferenceSum, player.PlayerMode, recog.mflg, recog.DiffPixelCount, recog.rv,
                recog.rt, recog.JudgedGesture, recog.PHASE, recog.SPEED, recog.ACCEL, recog.WIDTH,
                recog.JudgedLength, recog.INP_FNUM, recog.SampleSpread, learn.LearningPasses, engine.REVIEW_MODE);
  return buf;
}
std::vector<std::string> playerLines;

int StatusSum(const std::string& line) {
  const size_t p = line.find("[DifferenceSum=");
  return p == std::string::npos ? -1 : std::atoi(line.c_str() + p + 15);
}

}  // namespace

TEST(Replay, TraceIsThePlayersCycleLineForLineAndThePlotIsAPng) {
  Demo d;
  ProcResult r = Replay({"--workdir", "work", "--camera", d.camera, "--trace", "t.csv", "--plot", "p.png"}, d.root.path);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // Standard output stays free for a trace; standard error says what the run produced, the
  // player's start-up only with --verbose.
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "orvante-replay: wrote " + (d.root.path / "p.png").string() + "\norvante-replay: 180 cycles replayed; trace: " +
                       (d.root.path / "t.csv").string() + "\n");
  r = Replay({"--workdir", "work", "--camera", d.camera, "--trace", "t.csv", "--verbose"}, d.root.path);
  EXPECT_NE(r.err.find("The system is starting up. This may take a while.\n"), std::string::npos);
  EXPECT_EQ(CountOf(r.err, "cvQueryFrame() failed"), 0);

  const std::vector<std::string> trace = SplitLines(ReadFile(d.root.path / "t.csv"));
  ASSERT_EQ(trace.size(), 181u) << "header and one line per recorded frame: the recording does not loop";
  EXPECT_EQ(trace[0],
            "cycle,frame_no,DifferenceSum,PlayerMode,mflg,DiffPixelCount,rv,rt,JudgedGesture,PHASE,SPEED,ACCEL,"
            "WIDTH,JudgedLength,INP_FNUM,SampleSpread,LearningPasses,REVIEW_MODE");
  EXPECT_FALSE(fs::exists(d.root.path / "t.csv.tmp"));

  // The same frames through the player's own set-up and cycle, in this process, from a fresh state.
  app = AppState{}, timer = TimerState{}, player = PlayerState{}, control = ControlState{}, recog = RecognitionState{};
  learn = LearningState{};
  engine = EngineSetup{};
  learning = LearningWork{};
  ASSERT_EQ(::chdir(d.work.c_str()), 0);
  ::setenv("ORVANTE_CAMERA", d.camera.c_str(), 1);
  ::setenv("ORVANTE_CAMERA_LOOP", "0", 1);
  UseHeadlessDisplay();
  CreatePlayerWindow(0, OnMouse);
  ReadCameraSettings();
  LoadInterfaceImages();
  testing::internal::CaptureStdout();
  SetUpMainLoop();
  TurnCameraOn();
  AfterCycleStepping = [] {
    if (player.CameraOn) playerLines.push_back(PlayerCycleLine());
  };
  while (player.CameraOn && RunCycle()) {
  }
  testing::internal::GetCapturedStdout();
  ::unsetenv("ORVANTE_CAMERA"), ::unsetenv("ORVANTE_CAMERA_LOOP");  // for what runs after it here
  ASSERT_EQ(playerLines.size(), trace.size() - 1);
  for (size_t i = 0; i < playerLines.size(); ++i) ASSERT_EQ(trace[i + 1], playerLines[i]) << "cycle " << i + 1;

  // And the player binary itself, switched on with q in its first cycle, measures the same motion.
  WriteFile(d.work / "script.txt", "1 q\n200 ESC\n200 ESC\n");
  ProcOptions opt;
  opt.cwd = d.work;
  opt.env = {{"ORVANTE_HEADLESS", "1"}, {"ORVANTE_SCRIPT", (d.work / "script.txt").string()},
             {"ORVANTE_CAMERA", d.camera}, {"ORVANTE_CAMERA_LOOP", "0"}};
  ProcResult p = RunProcess({ORVANTE_BINARY}, opt);
  ASSERT_EQ(p.exitCode, 0) << p.err;
  std::vector<int> sums;
  for (const std::string& l : SplitLines(p.out))
    if (StatusSum(l) >= 0) sums.push_back(StatusSum(l));
  ASSERT_GE(sums.size(), 181u);
  int moving = 0;
  for (size_t i = 1; i < trace.size(); ++i) {
    const int traced = std::atoi(trace[i].c_str() + trace[i].find(',', trace[i].find(',') + 1) + 1);
    EXPECT_EQ(traced, sums[i]) << "cycle " << i;
    moving += traced > 0;
  }
  EXPECT_GT(moving, 150);

  // The plot: a PNG of the documented size with the traced curves drawn in it.
  const std::string png = ReadFile(d.root.path / "p.png");
  ASSERT_GE(png.size(), 24u);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  auto be32 = [&](size_t at) {
    return (static_cast<unsigned char>(png[at]) << 24) | (static_cast<unsigned char>(png[at + 1]) << 16) |
           (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
  };
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(be32(16), static_cast<unsigned>(kPlotWidth));
  EXPECT_EQ(be32(20), static_cast<unsigned>(kPlotHeight));
  const cv::Mat img = cv::imread((d.root.path / "p.png").string(), cv::IMREAD_COLOR);
  ASSERT_EQ(img.cols, 1200);
  ASSERT_EQ(img.rows, 900);
  cv::Mat blue;
  cv::inRange(img, cv::Scalar(150, 60, 0), cv::Scalar(230, 130, 60), blue);
  EXPECT_GT(cv::countNonZero(blue), 500) << "the DifferenceSum curve";
}

TEST(Replay, InALiveInstallationItLeavesTheSharedSectionAndOscAloneUnlessAsked) {
  TempDir d;
  fs::create_directories(d.path / "work");
  MakeContent(d.path, 0, 4);
  for (int i = 0; i < 4; ++i)
    cv::imwrite((d.path / ("rec_" + std::to_string(i) + ".png")).string(), cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(i * 50)));
  // The installation: its section with a camera's value, and osc.txt sending to a listener here.
  const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  WriteFile(d.path / "work/osc.txt", "send 127.0.0.1 " + std::to_string(ntohs(addr.sin_port)) + "\n");
  const std::string name = "/orvante-live-" + std::to_string(::getpid());
  const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(::ftruncate(fd, 1024), 0);
  auto* words = static_cast<int32_t*>(::mmap(nullptr, 1024, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  ::close(fd);
  for (bool asked : {false, true}) {
    SCOPED_TRACE(asked ? "--shared --osc" : "default");
    words[0] = words[1] = 4321;
    std::vector<std::string> argv{ORVANTE_REPLAY_TOOL, "--camera", (d.path / "rec_%d.png").string()};
    if (asked) argv.insert(argv.end(), {"--shared", "--osc"});
    ProcOptions opt;
    opt.cwd = d.path / "work";
    opt.env = {{"ORVANTE_SHM_NAME", name}};
    ASSERT_EQ(RunProcess(argv, opt).exitCode, 0);
    char buf[2048];
    const bool sent = ::recv(sock, buf, sizeof buf, 0) > 0;
    EXPECT_EQ(sent, asked);
    while (::recv(sock, buf, sizeof buf, 0) > 0) {
    }
    EXPECT_EQ(words[1] == 4321, !asked) << "the installation's camera word";
  }
  ::munmap(words, 1024);
  orv::RemoveSharedSections(name);
  ::close(sock);
}

namespace {

// A bright bar sweeping an arc in front of a still room: still frames, then the sweep, then
// still frames; repeated. Between repetitions the bar jumps back to its start in one frame (a
// burst too short to count as a motion). Returns the first frame of each sweep.
std::vector<int> WriteSweeps(const fs::path& dir, int sweeps, int sweepFrames, int stillFrames, int tailFrames) {
  fs::create_directories(dir);
  std::vector<int> starts;
  int n = 0;
  auto put = [&](double angle) {
    cv::Mat f(240, 320, CV_8UC3, cv::Scalar(40, 40, 40));
    const cv::Point pivot(160, 225);
    const cv::Point tip(pivot.x + static_cast<int>(150 * std::cos(angle)),
                        pivot.y - static_cast<int>(150 * std::sin(angle)));
    cv::line(f, pivot, tip, cv::Scalar(255, 255, 255), 14, cv::LINE_8);
    char name[32];
    std::snprintf(name, sizeof name, "sweep_%04d.png", n++);
    ASSERT_TRUE(cv::imwrite((dir / name).string(), f));
  };
  const double from = 150.0 * M_PI / 180.0, to = 30.0 * M_PI / 180.0;
  for (int s = 0; s < sweeps; ++s) {
    for (int i = 0; i < stillFrames; ++i) put(from);
    starts.push_back(n);
    for (int i = 1; i <= sweepFrames; ++i) put(from + (to - from) * i / sweepFrames);
    for (int i = 0; i < stillFrames; ++i) put(to);
  }
  for (int i = 0; i < tailFrames; ++i) put(from);
  return starts;
}

struct Row {
  int gesture, phase;
  double frame;
};
std::vector<Row> ReadTrace(const std::string& csv) {
  std::vector<Row> rows;
  const auto lines = SplitLines(csv);
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f;
    std::istringstream in(lines[i]);
    for (std::string x; std::getline(in, x, ',');) f.push_back(x);
    EXPECT_EQ(f.size(), 18u) << lines[i];
    if (f.size() == 18u) rows.push_back({std::stoi(f[8]), std::stoi(f[9]), std::stod(f[1])});
  }
  return rows;
}

}  // namespace

TEST(Replay, GestureTaughtFromARecordingIsJudgedWithRisingPhaseWhenReplayed) {
  TempDir d;
  fs::create_directories(d.path / "work");
  MakeContent(d.path, 0, 60);
  constexpr int kSweep = 30;
  const std::vector<int> starts = WriteSweeps(d.path / "teach", 3, kSweep, 12, 240);
  const std::string teach = (d.path / "teach/sweep_%04d.png").string();

  // Too short to finish: the recording ends during the passes. Nothing may be written.
  WriteSweeps(d.path / "short", 2, kSweep, 12, 0);
  ProcResult s = Replay({"--camera", (d.path / "short/sweep_%04d.png").string(), "--learn", "0", "--passes", "2",
                         "--save", "--trace", "short.csv"},
                        d.path / "work");
  EXPECT_EQ(s.exitCode, 2) << s.err;
  EXPECT_NE(SplitLines(s.err).back().find("nothing saved"), std::string::npos) << s.err;
  EXPECT_FALSE(fs::exists(d.path / "work/HOLVA_data-1-1.dat"));

  ProcResult t = Replay({"--camera", teach, "--learn", "0", "--passes", "2", "--save", "--trace", "teach.csv"},
                        d.path / "work");
  ASSERT_EQ(t.exitCode, 0) << t.err;
  for (int k = 1; k <= 4; ++k) EXPECT_TRUE(fs::exists(d.path / ("work/HOLVA_data-1-" + std::to_string(k) + ".dat")));
  // The trace shows the passes counting down and the review following them.
  const std::string teachCsv = ReadFile(d.path / "work/teach.csv");
  EXPECT_NE(teachCsv.find(",2,0\n"), std::string::npos);
  EXPECT_NE(teachCsv.find(",1,0\n"), std::string::npos);
  EXPECT_NE(teachCsv.find(",0,1\n"), std::string::npos);

  // Replayed with the saved knowledge base: gesture 0, its phase rising through every sweep.
  ProcResult r = Replay({"--camera", teach, "--trace", "replay.csv", "--plot", "replay.png"}, d.path / "work");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<Row> rows = ReadTrace(ReadFile(d.path / "work/replay.csv"));
  ASSERT_EQ(rows.size(), static_cast<size_t>(starts.back() + kSweep + 12 + 240));
  for (size_t k = 0; k < starts.size(); ++k) {
    SCOPED_TRACE("sweep " + std::to_string(k + 1));
    int judged = 0, falls = 0, first = -1, last = -1;
    double firstFrame = -1, lastFrame = -1;
    for (int c = starts[k]; c < starts[k] + kSweep; ++c) {
      const Row& row = rows[static_cast<size_t>(c)];
      if (row.gesture != 0 || row.phase <= 0) continue;
      ++judged;
      if (last >= 0 && row.phase < last) ++falls;
      if (first < 0) first = row.phase, firstFrame = row.frame;
      last = row.phase;
      lastFrame = row.frame;
    }
    EXPECT_GE(judged, kSweep / 2);
    EXPECT_EQ(falls, 0);
    EXPECT_LT(first, last);
    EXPECT_LT(firstFrame, lastFrame) << "the frames follow the phase";
    for (int c = starts[k]; c < starts[k] + kSweep; ++c)
      EXPECT_TRUE(rows[static_cast<size_t>(c)].gesture < 0 || rows[static_cast<size_t>(c)].gesture == 0);
  }
}

// The verdict on a taught motion against a replay of the same motion: rated well above the
// level, its PHASE sweeps the learned length; rated below, PHASE stays low and teaching warns.
TEST(Replay, FollowabilityOfATaughtMotionPredictsWhetherItsPhaseFollows) {
  const struct {
    const char* kind;
    bool followable;
  } cases[] = {{"arm-swing", true}, {"crossing", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    TempDir d;
    fs::create_directories(d.path / "work");
    MakeContent(d.path, 0, 60);
    ProcOptions opt;
    opt.cwd = d.path;
    ASSERT_EQ(RunProcess({ORVANTE_DEMO_TOOL, "--motion", c.kind, "rec"}, opt).exitCode, 0);
    const std::string rec = (d.path / "rec" / (std::string(c.kind) + "_%04d.png")).string();

    ProcResult t = Replay({"--camera", rec, "--learn", "0", "--passes", "2", "--save", "--trace", "t.csv"}, d.path / "work");
    ASSERT_EQ(t.exitCode, 0) << t.err;
    EXPECT_EQ(CountOf(t.err, "VERDICT [ A ]: followability "), 3) << "standard motion, review, end of the run";
    EXPECT_EQ(CountOf(t.err, "nearest other gesture is known after the first pass"), 1) << t.err;
    const size_t at = t.err.rfind("followability ");
    const int score = std::atoi(t.err.c_str() + at + 14);
    const bool warned = t.err.find("WARNING: the engine could not follow the progress of [ A ]") != std::string::npos;

    ProcResult r = Replay({"--camera", rec, "--trace", "p.csv"}, d.path / "work");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int low = 1000, high = 0;
    for (const Row& row : ReadTrace(ReadFile(d.path / "work/p.csv")))
      if (row.gesture == 0 && row.phase > 0) low = std::min(low, row.phase), high = std::max(high, row.phase);
    ASSERT_GT(high, 0) << "the replay judged the taught gesture";
    if (c.followable) {
      EXPECT_GE(score, kFollowableLevel + 30);
      EXPECT_FALSE(warned);
      EXPECT_EQ(low, 1);
      EXPECT_EQ(high, 40) << "the phase sweeps the whole learned motion";
    } else {
      EXPECT_LT(score, kFollowableLevel);
      EXPECT_TRUE(warned) << t.err;
      EXPECT_LT(high, 10) << "the phase stays near the start";
    }
  }
}

// A taught motion the engine cannot follow: the view says so in red after the teaching has
// ended, over "limits of [A] set", keeps the view on, and lets go with o.
TEST(Replay, AnUnfollowableTaughtMotionStaysWarnedInTheViewUntilO) {
  TempDir d;
  MakeContent(d.path, 0, 60);
  fs::create_directories(d.path / "work");
  ASSERT_EQ(RunProcess({ORVANTE_DEMO_TOOL, "--motion", "crossing", (d.path / "rec").string()}, {}).exitCode, 0);
  ReplayOptions o;
  o.workdir = (d.path / "work").string(), o.camera = (d.path / "rec/crossing_%04d.png").string();
  o.learn = 0, o.passes = 2;
  testing::internal::CaptureStdout();
  ASSERT_EQ(RunReplay(o, std::tmpfile()), kReplayOk);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(TeachingStateText(), "[A] cannot be followed (0 of 100): teach a turning motion, see README");
  cv::Mat view, red;
  RenderOperatorView(cv::Mat(720, 1280, CV_8UC3, cv::Scalar::all(0)), view);
  cv::inRange(view, cv::Scalar(40, 40, 200), cv::Scalar(80, 80, 255), red);
  EXPECT_GT(cv::countNonZero(red), 0);
  player.OperatorView = 2, control.LastTeaching = TimeStamp{};  // on by the teaching, ended long ago
  TeachingAfterStep();
  EXPECT_EQ(player.OperatorView, 2);
  ToggleOperatorView();
  EXPECT_EQ(TeachingStateText(), "limits of [A] set");
}

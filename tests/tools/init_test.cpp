// orvante-init end to end: a new installation plays with the real player and a recorded camera.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "common/limits.h"
#include "support/ci.h"
#include "support/process.h"
#include "support/xvfb.h"

namespace fs = std::filesystem;
using namespace orvtest;

namespace {

// Someone walks right across the room, stands, walks back and stands again; a small lamp
// flickers all the time, as sensor noise would, so quiet cycles still measure a little motion.
void WriteWalkerRecording(const fs::path& dir, int frames) {
  fs::create_directories(dir);
  int x = 40;
  for (int i = 0; i < frames; ++i) {
    const int phase = i % 40;
    if (phase < 12) x += 10;
    else if (phase >= 20 && phase < 32) x -= 10;
    cv::Mat f(240, 320, CV_8UC3, cv::Scalar(200, 200, 200));
    cv::rectangle(f, {x, 50}, {x + 50, 200}, cv::Scalar(40, 50, 60), cv::FILLED);
    cv::rectangle(f, {280, 10}, {296, 26}, cv::Scalar::all(i % 2 ? 230 : 210), cv::FILLED);
    char name[32];
    std::snprintf(name, sizeof name, "walk_%04d.png", i);
    ASSERT_TRUE(cv::imwrite((dir / name).string(), f));
  }
}

// A bright bar that moves 2 pixels a frame: neighbouring frames differ by far more than a
// JPEG re-encoding does.
std::vector<cv::Mat> WriteVideo(const fs::path& path, int frames, cv::Size size = {64, 48}) {
  cv::VideoWriter w(path.string(), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25, size);
  for (int i = 0; i < frames; ++i) {
    cv::Mat f(size, CV_8UC3, cv::Scalar(30, 60, 90));
    cv::rectangle(f, {2 * i % size.width, 0}, {2 * i % size.width + 8, size.height}, cv::Scalar::all(250), cv::FILLED);
    w.write(f);
  }
  w.release();
  std::vector<cv::Mat> decoded;  // what the video reader makes of it
  cv::VideoCapture c(path.string(), cv::CAP_FFMPEG);
  for (cv::Mat f; c.read(f);) decoded.push_back(f.clone());
  return decoded;
}

fs::path Clip(const fs::path& inst, int n) {
  char name[32];
  std::snprintf(name, sizeof name, "S001/clip_%05d.jpg", n);
  return inst / name;
}

// The JPEG file of a picture scaled to height h, as the tool writes it.
std::string Jpeg(const cv::Mat& m, int h, int quality) {
  cv::Mat scaled;
  cv::resize(m, scaled, {m.cols * h / m.rows, h}, 0, 0, cv::INTER_AREA);
  std::vector<uchar> bytes;
  cv::imencode(".jpg", scaled, bytes, {cv::IMWRITE_JPEG_QUALITY, quality});
  return std::string(bytes.begin(), bytes.end());
}

std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[e.path().string()] = ReadFile(e.path());
  return files;
}

}  // namespace

TEST(InitTool, NewInstallationPlaysWithTheMotionAndASecondRunKeepsEveryFile) {
  TempDir t;
  // Pictures named out of order: they become frames in byte order of their names.
  std::vector<std::string> pictures;
  for (int i = 11; i >= 0; --i) {
    char name[32];
    std::snprintf(name, sizeof name, "pic_%02d.jpg", i);
    cv::imwrite((t.path / name).string(), cv::Mat(48, 64, CV_8UC3, cv::Scalar(20 * i, 0, 0)));
    pictures.push_back((t.path / name).string());
  }
  const fs::path inst = t.path / "inst";
  std::vector<std::string> argv{ORVANTE_INIT_TOOL, inst.string()};
  argv.insert(argv.end(), pictures.begin(), pictures.end());
  ProcOptions opt;
  opt.cwd = t.path;
  ProcResult init = RunProcess(argv, opt);
  ASSERT_EQ(init.exitCode, 0) << init.out << init.err;
  for (const char* f : {"zav_env.dat", "ZAV_THRESHOLD.dat", "SetCamera3.txt", "keyallocation_01.jpg", "to_left.jpg",
                        "to_right.jpg"})
    EXPECT_TRUE(fs::is_regular_file(inst / "work" / f)) << f;
  EXPECT_EQ(ReadFile(inst / "S001/clip_00000.jpg"), ReadFile(t.path / "pic_00.jpg"));
  EXPECT_EQ(ReadFile(inst / "S001/clip_00011.jpg"), ReadFile(t.path / "pic_11.jpg"));
  EXPECT_FALSE(cv::imread((inst / "work/keyallocation_01.jpg").string()).empty());
  EXPECT_NE(init.out.find("Next steps"), std::string::npos);

  // The parameters are kept quiet for an unattended run; the status line is asked for here.
  ProcResult env = RunProcess({ORVANTE_ENV_TOOL, (inst / "work/zav_env.dat").string(), "MonitorMode=1"}, opt);
  ASSERT_EQ(env.exitCode, 0) << env.err;

  WriteWalkerRecording(t.path / "cam", 80);
  WriteFile(t.path / "script.txt", "1 q\n160 ESC\n160 ESC\n");
  ProcOptions run;
  run.cwd = inst / "work";
  run.env = {{"ORVANTE_HEADLESS", "1"},
             {"ORVANTE_SCRIPT", (t.path / "script.txt").string()},
             {"ORVANTE_CAMERA", (t.path / "cam/walk_%04d.png").string()}};
  ProcResult play = RunProcess({ORVANTE_BINARY}, run);
  ASSERT_EQ(play.exitCode, 0) << play.err;
  const std::regex status(R"(\[S1\] \[ *(\d+) / *11\] \[DifferenceSum= *(\d+) .*\[VR_threshold= 11500 \])");
  std::vector<int> frames;
  for (std::sregex_iterator it(play.out.begin(), play.out.end(), status), end; it != end; ++it)
    frames.push_back(std::stoi((*it)[1]));
  ASSERT_GT(frames.size(), 100u) << play.out.substr(0, 3000);
  int forward = 0, backward = 0;
  for (size_t i = 1; i < frames.size(); ++i) {
    forward += frames[i] == frames[i - 1] + 1;
    backward += frames[i] == frames[i - 1] - 1;
  }
  EXPECT_GT(forward, 10);
  EXPECT_GT(backward, 10);

  const auto before = Snapshot(inst);
  ProcResult again = RunProcess({ORVANTE_INIT_TOOL, inst.string()}, opt);
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(CountOf(again.out, "kept: "), 6) << again.out;
  EXPECT_EQ(CountOf(again.out, "written: "), 0) << again.out;
  EXPECT_EQ(Snapshot(inst), before);
}

// A PNG picture, then the video's frames: each clip the JPEG of the decoded frame it stands for.
TEST(InitTool, VideoFramesFollowThePictureInOrderWithEachOption) {
  TempDir t;
  const std::vector<cv::Mat> decoded = WriteVideo(t.path / "b.avi", 30);
  ASSERT_EQ(decoded.size(), 30u);
  const cv::Mat picture(48, 64, CV_8UC3, cv::Scalar(200, 10, 10));
  cv::imwrite((t.path / "a.png").string(), picture);
  struct Case {
    std::vector<std::string> options;
    std::vector<int> frames;  // decoded frames that become clips, in order
    int height, quality;
  };
  std::vector<int> all(30);
  for (int i = 0; i < 30; ++i) all[static_cast<size_t>(i)] = i;
  const Case cases[] = {{{}, all, 48, 95},
                        {{"--every", "3"}, {0, 3, 6, 9, 12, 15, 18, 21, 24, 27}, 48, 95},
                        {{"--fps=5"}, {0, 5, 10, 15, 20, 25}, 48, 95},
                        {{"--from", "0.4", "--to", "0.52"}, {10, 11, 12}, 48, 95},
                        {{"--height", "24", "--quality", "20"}, all, 24, 20}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.empty() ? "no options" : c.options[0]);
    const fs::path inst = t.path / "inst";
    fs::remove_all(inst);
    std::vector<std::string> argv{ORVANTE_INIT_TOOL};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    argv.insert(argv.end(), {inst.string(), (t.path / "b.avi").string(), (t.path / "a.png").string()});
    const ProcResult r = RunProcess(argv, {});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(CountOf(r.out, " holds " + std::to_string(c.frames.size() + 1) + " frames"), 1) << r.out;
    EXPECT_EQ(ReadFile(Clip(inst, 0)), Jpeg(picture, c.height, c.quality));  // re-encoded, not copied
    for (size_t i = 0; i < c.frames.size(); ++i)
      ASSERT_EQ(ReadFile(Clip(inst, static_cast<int>(i) + 1)),
                Jpeg(decoded[static_cast<size_t>(c.frames[i])], c.height, c.quality))
          << "clip " << i + 1;
    EXPECT_FALSE(fs::exists(inst / "S001.staging"));
  }
}

// What ffmpeg shows is upright: a phone video turned a quarter comes out as ffmpeg shows it.
TEST(InitTool, RotatedVideoComesOutAsFfmpegShowsIt) {
  ORVTEST_NEED(std::system("ffmpeg -version >/dev/null 2>&1") == 0, "ffmpeg (Debian package ffmpeg)");
  TempDir t;
  const std::string d = t.path.string();
  ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i testsrc=size=96x48:rate=10:duration=1 -pix_fmt yuv420p " + d +
                         "/a.mp4 && ffmpeg -v error -i " + d + "/a.mp4 -c copy -metadata:s:v:0 rotate=90 " + d +
                         "/r.mp4 && ffmpeg -v error -i " + d + "/r.mp4 -frames:v 1 " + d + "/shown.png")
                            .c_str()),
            0);
  const ProcResult r = RunProcess({ORVANTE_INIT_TOOL, d + "/inst", d + "/r.mp4"}, {});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // In grey: the two tools turn the video's colours into BGR a little differently.
  const cv::Mat shown = cv::imread(d + "/shown.png", cv::IMREAD_GRAYSCALE);
  const cv::Mat clip = cv::imread(Clip(t.path / "inst", 0).string(), cv::IMREAD_GRAYSCALE);
  ASSERT_EQ(clip.size(), shown.size());
  EXPECT_GT(cv::PSNR(clip, shown), 30);
}

// Refused runs leave the content exactly as it was and no staging folder; a leftover staging
// folder goes first, with a line.
TEST(InitTool, RefusedSourcesAndTooManyFramesLeaveTheContentAsItWas) {
  TempDir t;
  WriteVideo(t.path / "v.avi", 30);
  WriteFile(t.path / "text.mp4", "not a video at all\n");
  // Cut before the chunk of frame 28 and of frame 27: two frames short passes as an estimate.
  const std::string avi = ReadFile(t.path / "v.avi");
  size_t at = avi.find("movi");
  for (int k = 0; k <= 28; ++k) at = avi.find("00dc", at + 1);
  WriteFile(t.path / "cut28.avi", avi.substr(0, at));
  WriteFile(t.path / "cut27.avi", avi.substr(0, avi.rfind("00dc", at - 1)));
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string said;  // on standard error (refusals) or standard output
  };
  const Case cases[] = {
      {{"text.mp4", "v.avi"}, 1, "text.mp4: neither a picture nor a video that can be read\nNothing was written."},
      {{"nowhere.jpg"}, 1, "nowhere.jpg: no such file\nNothing was written."},
      {{"cut27.avi"}, 1, "cut27.avi announces 30 frames but its stream ends after 27"},
      {{"cut28.avi"}, 0, "added:   28 frames to "},
      {{"--every", "2", "v.avi"}, 0, "15 frames to " + (t.path / "inst/S001").string() + " as clip_00002.jpg ... clip_00016.jpg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const fs::path inst = t.path / "inst";
    fs::remove_all(inst);
    fs::create_directories(inst / "S001.staging");
    fs::create_directories(inst / "S001");
    WriteFile(inst / "S001.staging/00000000.jpg", "left by a power cut");
    for (int i : {0, 1}) WriteFile(Clip(inst, i), "");
    const auto before = Snapshot(inst / "S001");
    std::vector<std::string> argv{ORVANTE_INIT_TOOL, inst.string()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ProcOptions opt;
    opt.cwd = t.path;
    const ProcResult r = RunProcess(argv, opt);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_NE((c.exitCode ? r.err : r.out).find(c.said), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("removed: "), std::string::npos);
    EXPECT_FALSE(fs::exists(inst / "S001.staging"));
    if (c.exitCode) {
      EXPECT_TRUE(Snapshot(inst / "S001") == before);
      EXPECT_FALSE(fs::exists(inst / "work"));
    }
  }
}

// Wrong arguments end the run before anything is written.
TEST(InitTool, WrongArgumentsAreRefusedBeforeAnythingIsWritten) {
  TempDir t;
  const std::vector<std::vector<std::string>> cases{{"--every", "2", "--fps", "3"}, {"--to=0"},
                                                    {"--quality", "101"}, {"--every", "1.5"}, {"--height"}, {"--size", "3"}};
  for (const auto& args : cases) {
    std::vector<std::string> argv{ORVANTE_INIT_TOOL, (t.path / "inst").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_EQ(RunProcess(argv, {}).exitCode, 2) << args[0];
    EXPECT_FALSE(fs::exists(t.path / "inst"));
  }
}

// Frames larger than the screen get a note with the --height that fits; frames that fit do not.
TEST(InitTool, FramesLargerThanTheScreenGetANote) {
  Xvfb x;
  std::string why;
  ORVTEST_NEED(x.Start(&why, 1920, 1080), why);
  TempDir t;
  WriteVideo(t.path / "v.avi", 2, {96, 32});
  ProcOptions opt;
  opt.env = x.Env();
  for (const char* height : {"640", "641"}) {
    const ProcResult r = RunProcess({ORVANTE_INIT_TOOL, "--height", height, (t.path / height).string(), (t.path / "v.avi").string()}, opt);
    EXPECT_EQ(CountOf(r.out, "larger than the screen (1920x1080): --height 640 fits it."), height[2] == '1') << r.out;
  }
}

// The estimate is checked before anything is written: the frame limit filled, and one past it.
TEST(InitTool, AContentTakesFramesUpToItsLimit) {
  TempDir t;
  WriteVideo(t.path / "v.avi", 30);
  cv::imwrite((t.path / "a.png").string(), cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(90)));
  fs::create_directories(t.path / "S001");
  WriteFile(t.path / "empty", "");
  for (int i = 0; i < orv::kMaxFrames - 30; ++i) fs::create_hard_link(t.path / "empty", Clip(t.path, i));
  ProcResult r = RunProcess({ORVANTE_INIT_TOOL, t.path.string(), (t.path / "v.avi").string(), (t.path / "a.png").string()}, {});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("about 31 frames to add, but " + (t.path / "S001").string() + " holds 21970 of the 22000 "
                       "a content can hold; --every 2 fits."), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Clip(t.path, orv::kMaxFrames - 30)));
  r = RunProcess({ORVANTE_INIT_TOOL, t.path.string(), (t.path / "v.avi").string()}, {});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find(" holds 22000 frames."), std::string::npos) << r.out;
}

// An interrupt while the frames are decoded leaves the content as it was.
TEST(InitTool, InterruptMidwayLeavesTheContentAsItWas) {
  TempDir t;
  WriteVideo(t.path / "long.avi", 300, {640, 480});
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    const fs::path inst = t.path / ("inst" + std::to_string(sig));
    MakeContent(inst, 0, 3);
    const auto before = Snapshot(inst);
    const pid_t pid = StartProcess({ORVANTE_INIT_TOOL, inst.string(), (t.path / "long.avi").string()}, {},
                                   t.path / "out.txt", t.path / "err.txt");
    for (int i = 0; i < 2000 && !fs::exists(inst / "S001.staging/00000002.jpg"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(pid, sig);
    EXPECT_EQ(WaitProcess(pid, 60), 1);
    EXPECT_NE(ReadFile(t.path / "err.txt").find("ERROR: interrupted;"), std::string::npos);
    EXPECT_TRUE(Snapshot(inst) == before);
  }
}

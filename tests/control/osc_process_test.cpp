// Real players and the Debian OSC tools, over loopback.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <lo/lo.h>
#include <lo/lo_lowlevel.h>
#include <sys/mman.h>

#include <opencv2/imgcodecs.hpp>

#include "../support/ci.h"
#include "../support/process.h"
#include "player/motion.h"

namespace fs = std::filesystem;
using namespace orvtest;

namespace {

bool HaveTool(const char* name) {
  for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"})
    if (::access((std::string(dir) + name).c_str(), X_OK) == 0) return true;
  return false;
}

std::string Tool(const char* name) { return std::string("/usr/bin/") + name; }

// A free loopback port (taken and released at once).
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

void SendRaw(int port, const std::string& bytes) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::close(fd);
}

std::string MotionPacket(int chan, int value) {
  lo_message m = lo_message_new();
  lo_message_add_string(m, "far");
  lo_message_add_int32(m, chan);
  lo_message_add_int32(m, value);
  lo_message_add_int32(m, 9600);
  size_t len = 0;
  void* data = lo_message_serialise(m, "/orvante/motion", nullptr, &len);
  std::string bytes(static_cast<const char*>(data), len);
  std::free(data);
  lo_message_free(m);
  return bytes;
}

bool WaitFor(const fs::path& file, const std::string& text, double seconds, size_t from = 0) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    const std::string s = ReadFile(file);
    if (s.size() > from && s.find(text, from) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// Looks without reaping (WNOWAIT): the player is reaped by WaitProcess, which also removes its
// private shared section; reaping it here would leave that section in /dev/shm.
bool Running(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

void Stop(pid_t pid) {
  ::kill(pid, SIGKILL);
  WaitProcess(pid, 10);
}

// A headless player in root/work: MonitorMode as given, optional recorded camera whose frames
// alternate between two flat grey levels (every cycle differs by |a - b| per sample).
struct Player {
  TempDir root;
  fs::path work = root.path / "work";
  fs::path out = root.path / "out.txt";
  fs::path err = root.path / "err.txt";
  pid_t pid = -1;

  Player(int monitorMode, const std::string& oscText, const std::string& script, int a = -1, int b = -1,
         const std::string& section = "") {
    fs::create_directories(work);
    MakeContent(root.path, 0, 3);
    std::string env = "4 0 3 0.0 9600 1 1.0 3 1 4 0 120 " + std::to_string(monitorMode) + " 2 1 1 0\n";
    for (int i = 0; i < 1280; ++i) env += "0 ";
    WriteFile(work / "zav_env.dat", env + "\n");
    WriteFile(work / "SetCamera3.txt", "0 1 0 1 0\n");
    if (!oscText.empty()) WriteFile(work / "osc.txt", oscText);
    WriteFile(root.path / "script.txt", script);
    for (int i = 0; a >= 0 && i < 4; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "cam_%04d.png", i);
      cv::imwrite((root.path / name).string(), cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(i % 2 ? b : a)));
    }
    ProcOptions opt;
    opt.cwd = work;
    opt.env = {{"ORVANTE_HEADLESS", "1"}, {"ORVANTE_SCRIPT", (root.path / "script.txt").string()}};
    if (!section.empty()) opt.env["ORVANTE_SHM_NAME"] = section;
    if (a >= 0)
      opt.env["ORVANTE_CAMERA"] = (root.path / "cam_%04d.png").string();
    else
      opt.unsetEnv = {"ORVANTE_CAMERA"};
    pid = StartProcess({ORVANTE_BINARY}, opt, out, err);  // a private shared section of its own
  }
};

// oscdump on a loopback port, ready once it has shown a probe message.
struct Dump {
  TempDir dir;
  fs::path out = dir.path / "dump.txt";
  int port = FreePort();
  pid_t pid = -1;
  bool Start() {
    ProcOptions opt;
    pid = StartProcess({Tool("oscdump"), "-L", std::to_string(port)}, opt, out, dir.path / "err.txt");
    for (int i = 0; i < 100; ++i) {
      RunProcess({Tool("oscsend"), "127.0.0.1", std::to_string(port), "/probe", "i", "1"}, opt);
      if (WaitFor(out, "/probe", 0.1)) return true;
    }
    return false;
  }
  ~Dump() {
    if (pid > 0) Stop(pid);
  }
};

}  // namespace

TEST(OscPlayers, OscdumpSeesWhatTheStatusLinesShow) {
  ORVTEST_NEED(HaveTool("oscdump") && HaveTool("oscsend"), "oscdump/oscsend (liblo-tools) not installed");
  Dump dump;
  ASSERT_TRUE(dump.Start());
  // A destination that is down comes first: it must not keep the bundle from the next one.
  const std::string down = std::to_string(FreePort()), up = std::to_string(dump.port);
  Player p(1, "send 127.0.0.1 " + down + "\nsend 127.0.0.1 " + up + "\nid hall-a\n", "1 q\n40 ESC\n", 20, 30);
  ASSERT_EQ(WaitProcess(p.pid, 120), 0) << ReadFile(p.err);
  EXPECT_NE(ReadFile(p.out).find("OSC: id [hall-a], sending to 127.0.0.1:" + down + " 127.0.0.1:" + up + "\n"),
            std::string::npos);
  ASSERT_TRUE(WaitFor(dump.out, "/orvante/frame", 5));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string status = ReadFile(p.out);
  const std::string dumped = ReadFile(dump.out);

  // Every value sent is one the status lines show (zeros included: those print in cycles
  // without the camera too), and the recording's steady value is among them.
  std::set<std::string> shown, sent;
  const std::regex statusLine(R"(\[S1\] \[ *(\d+) / *\d+\] \[DifferenceSum= *(\d+) .*\[VR_threshold= (\d+) \])");
  for (std::sregex_iterator it(status.begin(), status.end(), statusLine), e; it != e; ++it)
    shown.insert((*it)[2].str() + " " + (*it)[3].str());
  const std::regex motion(R"(/orvante/motion siii "hall-a" 0 (\d+) (\d+)\n)");
  for (std::sregex_iterator it(dumped.begin(), dumped.end(), motion), e; it != e; ++it)
    sent.insert((*it)[1].str() + " " + (*it)[2].str());
  for (const auto& v : sent) EXPECT_EQ(shown.count(v), 1u) << v;
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const std::string& v) { return v.rfind("48000 ", 0) == 0; }), 1)
      << dumped.substr(0, 2000);
  EXPECT_GE(CountOf(dumped, "/orvante/motion siii"), 30);

  // Frame messages: content 1, positions whose integer parts are the frames the status shows.
  std::set<std::string> frames, framesSent;
  for (std::sregex_iterator it(status.begin(), status.end(), statusLine), e; it != e; ++it) frames.insert((*it)[1]);
  const std::regex frame(R"(/orvante/frame sif "hall-a" 1 (\d+)\.\d+\n)");
  for (std::sregex_iterator it(dumped.begin(), dumped.end(), frame), e; it != e; ++it) framesSent.insert((*it)[1]);
  EXPECT_EQ(framesSent, frames) << dumped.substr(0, 2000);
  EXPECT_EQ(CountOf(dumped, "/orvante/gesture"), 0);  // no knowledge base, no judgement
  EXPECT_EQ(CountOf(dumped, "/orvante/") , CountOf(dumped, "/orvante/motion") + CountOf(dumped, "/orvante/frame"));
}

TEST(OscPlayers, CameraLessFollowerReportsARemoteCameraUntilItStops) {
  const int port = FreePort();
  Player follower(1, "listen " + std::to_string(port) + "\n", "1000000000 ESC\n");
  ASSERT_TRUE(WaitFor(follower.out, "[S1] [", 60)) << ReadFile(follower.err);
  Player leader(1, "send 127.0.0.1 " + std::to_string(port) + "\n", "1 q\n150 ESC\n", 20, 30);

  const bool followed = WaitFor(follower.out, "[DifferenceSum=  48000 (SI.DiffSum=  48000 )]", 60);
  EXPECT_EQ(WaitProcess(leader.pid, 120), 0) << ReadFile(leader.err);
  const size_t after = ReadFile(follower.out).size();
  const bool returned = WaitFor(follower.out, "[DifferenceSum=      0 (SI.DiffSum=      0 )]", 30, after);
  const bool alive = Running(follower.pid);
  Stop(follower.pid);
  EXPECT_TRUE(followed) << ReadFile(follower.out).substr(0, 3000);
  EXPECT_TRUE(returned);
  EXPECT_TRUE(alive);
  EXPECT_EQ(ReadFile(follower.err), "");
}

TEST(OscPlayers, BadPacketsAreCountedAndThePlayerRunsOn) {
  ORVTEST_NEED(HaveTool("oscsend"), "oscsend (liblo-tools) not installed");
  const int port = FreePort();
  Player p(2, "listen " + std::to_string(port) + "\n", "1000000000 ESC\n");
  ASSERT_TRUE(WaitFor(p.out, "[OSC bad=      0 ]", 60)) << ReadFile(p.err);

  ProcOptions opt;
  const std::string to = std::to_string(port);
  RunProcess({Tool("oscsend"), "127.0.0.1", to, "/orvante/motion", "sfii", "x", "1.5", "3", "0"}, opt);
  RunProcess({Tool("oscsend"), "127.0.0.1", to, "/somewhere/else", "i", "1"}, opt);
  RunProcess({Tool("oscsend"), "127.0.0.1", to, "/orvante/motion", "siii", "x", "99", "3", "0"}, opt);
  SendRaw(port, "");
  SendRaw(port, "/");
  SendRaw(port, std::string("/ab\0,i\0\0\0\0\0\1", 11));        // wrong padding
  SendRaw(port, std::string("/a\0\0,s\0\0abcd", 12));             // string without terminator
  std::string nested = std::string("/a\0\0,\0\0\0", 8);
  for (int i = 0; i < 1000; ++i) {
    const uint32_t n = htonl(static_cast<uint32_t>(nested.size()));
    nested = std::string("#bundle\0\0\0\0\0\0\0\0\1", 16) + std::string(reinterpret_cast<const char*>(&n), 4) + nested;
  }
  SendRaw(port, nested);
  SendRaw(port, std::string(64000, '/'));
  // A sound message after all of them is still taken.
  RunProcess({Tool("oscsend"), "127.0.0.1", to, "/orvante/motion", "siii", "x", "7", "1234", "0"}, opt);

  const bool counted = WaitFor(p.out, "[WebCam(  7 ) =   1234 ][OSC bad=      9 ]", 30);
  const bool alive = Running(p.pid);
  Stop(p.pid);
  EXPECT_TRUE(counted) << ReadFile(p.out).substr(ReadFile(p.out).size() > 3000 ? ReadFile(p.out).size() - 3000 : 0);
  EXPECT_TRUE(alive);
}

TEST(OscPlayers, WithoutSettingsFileTheConsoleIsUnchanged) {
  Player p(2, "", "30 ESC\n");
  ASSERT_EQ(WaitProcess(p.pid, 120), 0) << ReadFile(p.err);
  const std::string out = ReadFile(p.out);
  EXPECT_EQ(out.find("OSC"), std::string::npos);
  EXPECT_GE(CountOf(out, "\n*[SI.DiffSum=      0 ]\n"), 5);
  EXPECT_EQ(ReadFile(p.err), "");
}

TEST(OscPlayers, ListenerThatEndsLeavesNoRemoteWordBehind) {
  const int port = FreePort();
  const std::string section = "/orvante-test-osc-end-" + std::to_string(::getpid());
  orv::RemoveSharedSections(section);
  Player p(2, "listen " + std::to_string(port) + "\n", "100000 ESC\n", -1, -1, section);
  ASSERT_TRUE(WaitFor(p.out, "[OSC bad=", 60)) << ReadFile(p.err);
  // The remote camera keeps sending until the player has ended.
  std::atomic<bool> ended{false};
  std::thread sender([&] {
    while (!ended) {
      SendRaw(port, MotionPacket(4, 777));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const bool seen = WaitFor(p.out, "[WebCam(  4 ) =    777 ]", 60);
  const int code = WaitProcess(p.pid, 240);
  ended = true;
  sender.join();
  EXPECT_TRUE(seen);
  EXPECT_EQ(code, 0) << ReadFile(p.err);
  const int fd = ::shm_open(section.c_str(), O_RDONLY, 0);
  ASSERT_GE(fd, 0);
  const auto* w = static_cast<const int32_t*>(::mmap(nullptr, 1024, PROT_READ, MAP_SHARED, fd, 0));
  ASSERT_NE(w, MAP_FAILED);
  EXPECT_EQ(w[5], 0);
  EXPECT_EQ(w[0], 0);
  ::munmap(const_cast<int32_t*>(w), 1024);
  ::close(fd);
  orv::RemoveSharedSections(section);
}

namespace {

// A datagram socket bound to `from` (port of the system's choice): sends OSC, reads answers.
struct Client {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0), port = 0;
  explicit Client(const char* from = "127.0.0.1") {
    sockaddr_in a{AF_INET, 0, {}, {}};
    ::inet_pton(AF_INET, from, &a.sin_addr);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Client() { ::close(fd); }
  void Send(int to, const char* path, const std::string& key = "") const {
    lo_message m = lo_message_new();
    if (!key.empty()) lo_message_add_string(m, key.c_str());
    size_t len = 0;
    void* data = lo_message_serialise(m, path, nullptr, &len);
    const sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(to)), {htonl(INADDR_LOOPBACK)}, {}};
    ::sendto(fd, data, len, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    std::free(data);
    lo_message_free(m);
  }
  // The next plain message within `seconds` as "path types" and its s/i arguments ("" if none).
  std::string Answer(double seconds) const {
    char b[2048];
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
         std::chrono::steady_clock::now() < end;) {
      const ssize_t n = ::recv(fd, b, sizeof b, MSG_DONTWAIT);
      if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (n <= 0 || b[0] != '/') continue;  // bundles: the cycles' own messages
      int rc = 0;
      lo_message m = lo_message_deserialise(b, static_cast<size_t>(n), &rc);
      const char* t = m ? lo_message_get_types(m) : "";
      std::string out = std::string(b) + " " + t;
      for (int i = 0, v = 0; t[i]; ++i) {
        const char* a = reinterpret_cast<const char*>(lo_message_get_argv(m)[i]);
        std::memcpy(&v, a, sizeof v);
        out += t[i] == 's' ? std::string(" '") + a + "'" : t[i] == 'i' && i != 7 && i != 11 ? " " + std::to_string(v) : "";
      }
      if (m) lo_message_free(m);
      return out;
    }
    return "";
  }
};

}  // namespace

TEST(OscRemote, KeysThresholdAndStatusFromAllowedSendersOnly) {
  ORVTEST_NEED(HaveTool("oscsend"), "oscsend (liblo-tools) not installed");
  const int port = FreePort();
  const std::string to = std::to_string(port);
  Client sink, client, stranger("127.0.0.2");
  Player p(1, "id hall-a\nlisten " + to + "\ncontrol 127.0.0.1\nsend 127.0.0.1 " + std::to_string(sink.port) + "\n",
           "1000000000 ESC\n", 20, 30);
  ASSERT_TRUE(WaitFor(p.out, "[S1] [", 60)) << ReadFile(p.err);
  RunProcess({Tool("oscsend"), "127.0.0.1", to, "/orvante/key", "s", "q"}, {});
  EXPECT_TRUE(WaitFor(p.out, "[DifferenceSum=  48000", 30));
  RunProcess({Tool("oscsend"), "127.0.0.1", to, "/orvante/threshold", "i", "20000"}, {});
  EXPECT_TRUE(WaitFor(p.out, "[VR_threshold= 20000 ]", 30));
  EXPECT_EQ(ReadFile(p.work / "ZAV_THRESHOLD.dat"), "20000");
  // Answered to the asking socket; the state also reaches every destination once a second.
  while (!sink.Answer(0.05).empty()) continue;
  client.Send(port, "/orvante/status");
  const std::string state = "/orvante/state sisifiiiiisi 'hall-a' 1 'on' 1 3 20000 -1 -1 ''";
  EXPECT_EQ(client.Answer(10), state);
  EXPECT_EQ(sink.Answer(10), state);
  // Refused: a sender not allowed (twice, one warning), a token no command; nothing answered.
  stranger.Send(port, "/orvante/key", "q");
  stranger.Send(port, "/orvante/status");
  for (const char* bad : {"Q", "LCLICK", "q 1"}) client.Send(port, "/orvante/key", bad);
  for (int i = 0; i < 2; ++i) client.Send(port, "/orvante/key", "i");  // 1 -> 0 -> 2: count, camera still on
  EXPECT_TRUE(WaitFor(p.out, "[WebCam(  0 ) =  48000 ][OSC bad=      5 ]", 30));
  EXPECT_EQ(stranger.Answer(0.5), "");
  Stop(p.pid);
  EXPECT_EQ(CountOf(ReadFile(p.err), "commands from 127.0.0.2 are not allowed"), 1) << ReadFile(p.err);
}

TEST(OscRemote, RemoteKeysActAsTheSameKeysOfAScript) {
  // Even cycles: the display step's own extra key poll (tenth unchanged cycle) falls on odd ones.
  const std::vector<std::string> keys = {"V", "3", "J", "e", "ENTER", "w", "g", "ESC", "e", "ENTER", "J", "v"};
  std::string script;
  for (size_t i = 0; i < keys.size(); ++i) script += std::to_string(6 + 2 * i) + " " + keys[i] + "\n";
  Player typed(0, "", script + "40 ESC\n");
  const int port = FreePort();
  Player remote(0, "listen " + std::to_string(port) + "\n", "1000000000 ESC\n");
  ASSERT_TRUE(WaitFor(remote.out, "OSC: id", 60));
  Client client;
  for (const auto& k : keys)  // ESC twice: the second is refused on the pause screen
    for (int n = k == "ESC" ? 2 : 1; n > 0; --n) client.Send(port, "/orvante/key", k);
  ASSERT_TRUE(WaitFor(remote.out, "ZAV_threshold = [ 11500 ]", 60)) << ReadFile(remote.out);
  // The line is printed just before the file is written: kill only once the file holds it.
  EXPECT_TRUE(WaitFor(remote.work / "ZAV_THRESHOLD.dat", "11500", 10));
  Stop(remote.pid);
  ASSERT_EQ(WaitProcess(typed.pid, 120), 0);
  const auto console = [](const Player& p) {
    std::string s = std::regex_replace(ReadFile(p.out), std::regex("OSC: [^\n]*\n"), "");
    return std::regex_replace(s, std::regex(p.root.path.string()), "ROOT");
  };
  const std::string t = console(typed), r = console(remote);
  // The typed run ends with a pause and the end; the remote one is stopped before.
  EXPECT_EQ(r, t.substr(0, t.rfind("\n\n OOOO    OOO")));
  EXPECT_EQ(CountOf(ReadFile(remote.out), "OSC: a remote ESC does not end the player"), 1);
  EXPECT_EQ(ReadFile(typed.work / "ZAV_THRESHOLD.dat"), "11500");
}

TEST(OscRemote, PureDataExamplePatchOpensCleanly) {
  ORVTEST_NEED(HaveTool("pd"), "pd (puredata-core) not installed");
  const ProcResult r = RunProcess({Tool("pd"), "-nosound", "-nomidi", "-nogui", "-stderr", "-open",
                                   ORVANTE_SOURCE_DIR "/packaging/orvante-remote.pd", "-send", "pd quit"}, {});
  EXPECT_EQ(r.exitCode, 0);
  for (const char* bad : {"error", "couldn't create"}) EXPECT_EQ((r.out + r.err).find(bad), std::string::npos) << r.err;
  // Started with its arguments by the README's command line, it shows a running player's state.
  const int port = FreePort(), own = FreePort();
  Player p(0, "listen " + std::to_string(port) + "\ncontrol 127.0.0.1\nsend 127.0.0.1 " + std::to_string(own) + "\n", "1000000000 ESC\n");
  const std::string ports = std::to_string(port) + " " + std::to_string(own);
  const pid_t pd = StartProcess({Tool("pd"), "-nosound", "-nomidi", "-nogui", "-stderr", "-path", ORVANTE_SOURCE_DIR "/packaging", "-send",
                                 "pd menunew remote /tmp; pd-remote obj 20 20 orvante-remote 127.0.0.1 " + ports +
                                     "; pd-remote obj 20 60 print state; pd-remote connect 0 0 1 0; pd-remote loadbang"},
                                {}, p.root.path / "pd.out", p.root.path / "pd.txt");
  EXPECT_TRUE(WaitFor(p.root.path / "pd.txt", "state: ", 30)) << ReadFile(p.root.path / "pd.txt");
  StopProcess(pd);
  Stop(p.pid);
}

// A remote ESC cancels a teaching on a still camera; a key sent during it is held and runs after
// the pause the cancel opens; status requests are answered meanwhile.
TEST(OscRemote, RemoteEscCancelsATeaching) {
  const int port = FreePort();
  Player p(0, "listen " + std::to_string(port) + "\n", "1000000000 ESC\n", 20, 20);
  ASSERT_TRUE(WaitFor(p.out, "OSC: id", 60));
  Client client;
  for (const char* k : {"q", "g"}) client.Send(port, "/orvante/key", k);
  ASSERT_TRUE(WaitFor(p.out, "*** LEARNING STANDARD BODY MOTION for [ A ] ***", 60));
  client.Send(port, "/orvante/status");
  const std::string a = client.Answer(10);
  EXPECT_TRUE(a.rfind("/orvante/state", 0) == 0 && a.find("''") == std::string::npos) << a;  // the state in words
  for (const char* k : {"V", "ESC"}) client.Send(port, "/orvante/key", k);
  EXPECT_TRUE(WaitFor(p.out, " OOOO    OOO", 30));
  client.Send(port, "/orvante/key", "ENTER");
  EXPECT_TRUE(WaitFor(p.out, "SET: ZAV_threshold = [ 11548 ]", 30));
  Stop(p.pid);
  const std::string out = ReadFile(p.out);
  EXPECT_LT(out.find("CANCELLED: the teaching of [ A ]"), out.find(" OOOO    OOO")) << out;
  EXPECT_LT(out.find(" OOOO    OOO"), out.find("SET: ZAV_threshold"));
}

// OSC link: one cycle's sending (motion, frame, gesture and count to two destinations) and one
// cycle's receiving of 1,000 queued player bundles, all over loopback. And remote operation: a
// whole headless player cycle that runs one queued threshold command and answers one status
// request, against the same cycle with nothing arriving (compare their CPU times).
//   build/orvante_bench --benchmark_filter=Osc --benchmark_repetitions=5
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <lo/lo.h>
#include <lo/lo_lowlevel.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "common/timer.h"
#include "control/control_state.h"
#include "control/osc_state.h"
#include "player/player_state.h"
#include "recognition/recognition_state.h"
#include "app/main_loop.h"
#include "common/display.h"
#include "control/osc.h"
#include "player/motion.h"
#include "support/quiet_stdout.h"

#include <opencv2/imgcodecs.hpp>

namespace fs = std::filesystem;
using namespace orv;

namespace {

// A loopback datagram socket with a port of the system's choice and a large receive buffer.
struct Sink {
  OscSocket s{::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0)};
  sockaddr_in addr{};
  Sink() {
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(s.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(s.fd, reinterpret_cast<sockaddr*>(&addr), &len);
  }
  int Port() const { return ntohs(addr.sin_port); }
  void Drain() const {
    char b[2048];
    while (::recv(s.fd, b, sizeof b, 0) > 0) {
    }
  }
};

// Working folder with osc.txt, a private shared section, and the player's state reset.
struct Stage {
  fs::path dir = fs::temp_directory_path() / ("orvante-bench-osc-" + std::to_string(::getpid()));
  fs::path old = fs::current_path();
  std::string section = "/orvante-bench-osc-" + std::to_string(::getpid());
  explicit Stage(const std::string& settings) {
    fs::create_directories(dir);
    fs::current_path(dir);
    std::ofstream(dir / "osc.txt") << settings;
    ::setenv("ORVANTE_SHM_NAME", section.c_str(), 1);
    app = AppState{};
    timer = TimerState{};
    player = PlayerState{};
    control = ControlState{};
    OpenSharedMemory();
    OpenOsc();
  }
  ~Stage() {
    CloseOsc();
    fs::current_path(old);
    fs::remove_all(dir);
    orv::RemoveSharedSections(section);
  }
};

void BM_OscSendCycle(benchmark::State& state) {
  Sink a, b;
  Stage stage("id hall-a\nsend 127.0.0.1 " + std::to_string(a.Port()) + "\nsend 127.0.0.1 " +
              std::to_string(b.Port()) + "\n");
  player.CameraOn = 1;
  player.MaxCount = 1000;
  player.DifferenceSum = 48000;
  std::snprintf(recog.JudgedName + 1, sizeof recog.JudgedName - 1, "wave");
  recog.JudgedGesture = 1;
  recog.PHASE = 40;
  recog.JudgedLength = 80;
  long n = 0;
  for (auto _ : state) {
    // Four messages every cycle: the frame and the count change, a judgement is published.
    player.frame_no = static_cast<double>(n % 1000);
    player.motion_count = static_cast<int>(++n);
    SendOsc();
    if (n % 64 == 0) {
      state.PauseTiming();
      a.Drain();
      b.Drain();
      state.ResumeTiming();
    }
  }
  state.counters["failures"] = static_cast<double>(osc.SendFailures);
}
BENCHMARK(BM_OscSendCycle)->Unit(benchmark::kMicrosecond);

// One bundle as a player sends it (motion, frame, count), for camera channel chan.
std::vector<uint8_t> PlayerBundle(int chan) {
  lo_bundle b = lo_bundle_new(LO_TT_IMMEDIATE);
  lo_message m = lo_message_new();
  lo_message_add_string(m, "hall-b");
  lo_message_add_int32(m, chan);
  lo_message_add_int32(m, 48000);
  lo_message_add_int32(m, 9600);
  lo_bundle_add_message(b, "/orvante/motion", m);
  m = lo_message_new();
  lo_message_add_string(m, "hall-b");
  lo_message_add_int32(m, 1);
  lo_message_add_float(m, 12.5f);
  lo_bundle_add_message(b, "/orvante/frame", m);
  m = lo_message_new();
  lo_message_add_string(m, "hall-b");
  lo_message_add_int32(m, 3);
  lo_bundle_add_message(b, "/orvante/count", m);
  std::vector<uint8_t> out(lo_bundle_length(b));
  size_t len = 0;
  lo_bundle_serialise(b, out.data(), &len);
  lo_bundle_free_recursive(b);
  return out;
}

void BM_OscReceive1000(benchmark::State& state) {
  Stage stage("# the listener is set below, on a port of the system's choice\n");
  Sink listener;
  const int want = 8 << 20;  // room for 1,000 datagrams (the kernel may cap it)
  ::setsockopt(listener.s.fd, SOL_SOCKET, SO_RCVBUF, &want, sizeof want);
  osc.Listener = std::move(listener.s);
  osc.PacketsPerCycle = 1000;  // all of them in the one cycle measured
  const sockaddr_in to = listener.addr;
  Sink sender;
  std::vector<std::vector<uint8_t>> packets;
  for (int i = 0; i < 1000; ++i) packets.push_back(PlayerBundle(i % 32));
  long queued = 0, taken = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (const auto& p : packets)
      if (::sendto(sender.s.fd, p.data(), p.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0) ++queued;
    const long before = osc.MotionTaken;
    state.ResumeTiming();
    ReceiveOsc();
    taken += osc.MotionTaken - before;
  }
  // Datagrams the socket could hold and the cycle took, per iteration.
  state.counters["taken"] = benchmark::Counter(static_cast<double>(taken), benchmark::Counter::kAvgIterations);
  state.counters["sent"] = benchmark::Counter(static_cast<double>(queued), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_OscReceive1000)->Unit(benchmark::kMicrosecond);

// A headless player set up on four 320x240 frames, listening, standing on one frame.
struct RemoteStage {
  fs::path root = fs::temp_directory_path() / ("orvante-bench-remote-" + std::to_string(::getpid()));
  fs::path old = fs::current_path();
  Sink probe;  // a free port for the listener, released just before the player binds it
  int port = probe.Port();
  explicit RemoteStage() {
    fs::create_directories(root / "S001");
    fs::create_directories(root / "work");
    for (int i = 0; i < 4; ++i)
      cv::imwrite((root / "S001" / ("clip_0000" + std::to_string(i) + ".jpg")).string(),
                  cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(40 * i)));
    fs::current_path(root / "work");
    std::ofstream("osc.txt") << "listen " << port << "\ncontrol 127.0.0.1\n";
    std::ofstream("ZAV_THRESHOLD.dat") << 11500;
    probe.s = OscSocket{};
    const std::string shm = "/orvante-bench-remote-" + std::to_string(::getpid());
    ::setenv("ORVANTE_SHM_NAME", shm.c_str(), 1);
    QuietStdout quiet;
    UseHeadlessDisplay();
    display.hd.copyShown = false;
    SetUpMainLoop();
    ::shm_unlink(shm.c_str());
    player.PlayState = 5;
    player.VR_step = 0.0;  // the frame stands still: the cycle is at its cheapest
    player.KeyFrameMode = 0;
    player.AutoJumpFlag = 0;
    for (int i = 0; i < 50; ++i) RunCycle();
  }
  ~RemoteStage() {
    CloseOsc();
    fs::current_path(old);
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

std::vector<uint8_t> Serialised(const char* path, lo_message m) {
  size_t len = 0;
  void* data = lo_message_serialise(m, path, nullptr, &len);
  std::vector<uint8_t> out(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + len);
  std::free(data);
  lo_message_free(m);
  return out;
}

// Before the cycle arrive: 0 nothing; 1 a status request; 2 a threshold command and a status
// request; 3 (for comparison) nothing, but V is typed. A threshold command costs the threshold
// file's durable replacement (fsync), as a typed V does.
void BM_OscRemoteCycle(benchmark::State& state) {
  const int remote = static_cast<int>(state.range(0));
  RemoteStage stage;
  Sink client;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<uint16_t>(stage.port));
  lo_message t = lo_message_new();
  lo_message_add_int32(t, 12000);
  const auto threshold = Serialised("/orvante/threshold", t);
  const auto status = Serialised("/orvante/status", lo_message_new());
  long answered = 0;
  QuietStdout quiet;  // the SET line of each threshold command
  for (auto _ : state) {
    state.PauseTiming();
    for (const auto* p : {&threshold, &status})
      if ((p == &threshold && remote == 2) || (p == &status && (remote == 1 || remote == 2)))
        ::sendto(client.s.fd, p->data(), p->size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (remote == 3) display.hd.script.push_front(ScriptEvent{0, 'V'});
    state.ResumeTiming();
    RunCycle();
    state.PauseTiming();
    char b[512];
    while (::recv(client.s.fd, b, sizeof b, MSG_DONTWAIT) > 0) ++answered;
    state.ResumeTiming();
  }
  state.counters["answered"] = benchmark::Counter(static_cast<double>(answered), benchmark::Counter::kAvgIterations);
  state.counters["queued"] = benchmark::Counter(static_cast<double>(osc.CommandsTaken), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_OscRemoteCycle)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMicrosecond);

}  // namespace

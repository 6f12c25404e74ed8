// OSC settings, sending and receiving inside one process, over loopback only.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <lo/lo.h>
#include <lo/lo_lowlevel.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../support/process.h"
#include "app/app_state.h"
#include "common/timer.h"
#include "control/control_state.h"
#include "control/osc_state.h"
#include "player/player_state.h"
#include "recognition/recognition_state.h"
#include "control/osc.h"
#include "player/motion.h"

using namespace orv;
using Bytes = std::vector<uint8_t>;

namespace {

// A datagram socket on 127.0.0.1 with a port of the system's choice.
struct LoopbackSocket {
  OscSocket s{::socket(AF_INET, SOCK_DGRAM, 0)};
  int port = 0;
  LoopbackSocket() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s.fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
  }
  void SendTo(int toPort, const Bytes& b) const {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(toPort));
    ::sendto(s.fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
};

// A free loopback port (taken and released at once).
int FreePort() { return LoopbackSocket().port; }

// One OSC message, serialised by liblo. types: i (int), f (float), s (string).
Bytes Message(const char* path, const char* types, const std::vector<std::string>& args) {
  lo_message m = lo_message_new();
  for (size_t i = 0; types[i]; ++i) {
    if (types[i] == 'i') lo_message_add_int32(m, std::stoi(args[i]));
    if (types[i] == 'f') lo_message_add_float(m, std::stof(args[i]));
    if (types[i] == 's') lo_message_add_string(m, args[i].c_str());
  }
  size_t len = 0;
  void* data = lo_message_serialise(m, path, nullptr, &len);
  Bytes b(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + len);
  std::free(data);
  lo_message_free(m);
  return b;
}

Bytes Motion(int chan, int value) { return Message("/orvante/motion", "siii", {"far", std::to_string(chan), std::to_string(value), "9600"}); }

void Put32(Bytes* b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b->push_back(static_cast<uint8_t>(v >> s));
}

// A bundle of the given elements, time tag "immediately" unless another is given.
Bytes Bundle(const std::vector<Bytes>& elements, uint32_t seconds = 0, uint32_t fraction = 1) {
  Bytes b = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0};
  Put32(&b, seconds);
  Put32(&b, fraction);
  for (const auto& e : elements) {
    Put32(&b, static_cast<uint32_t>(e.size()));
    b.insert(b.end(), e.begin(), e.end());
  }
  return b;
}

// The messages of a flat bundle as "path types arg arg ...".
std::vector<std::string> Decode(const Bytes& b) {
  std::vector<std::string> out;
  if (b.size() < 16 || std::memcmp(b.data(), "#bundle", 8) != 0) return {"not a bundle"};
  for (size_t pos = 16; pos + 4 <= b.size();) {
    const uint32_t n = (uint32_t{b[pos]} << 24) | (uint32_t{b[pos + 1]} << 16) | (uint32_t{b[pos + 2]} << 8) | b[pos + 3];
    pos += 4;
    int rc = 0;
    lo_message m = lo_message_deserialise(const_cast<uint8_t*>(b.data() + pos), n, &rc);
    if (!m) return {"bad element"};
    std::string line = reinterpret_cast<const char*>(b.data() + pos);
    const char* types = lo_message_get_types(m);
    line += std::string(" ") + types;
    lo_arg** argv = lo_message_get_argv(m);
    for (int i = 0; types[i]; ++i) {
      char v[64];
      // The arguments sit at 4-byte offsets; lo_arg wants 8: copied out, never read through it.
      int32_t iv = 0;
      float fv = 0.0f;
      std::memcpy(&iv, argv[i], sizeof iv);
      std::memcpy(&fv, argv[i], sizeof fv);
      if (types[i] == 'i') std::snprintf(v, sizeof v, " %d", iv);
      if (types[i] == 'f') std::snprintf(v, sizeof v, " %g", static_cast<double>(fv));
      if (types[i] == 's') {
        line += std::string(" \"") + reinterpret_cast<const char*>(argv[i]) + "\"";
        continue;
      }
      line += v;
    }
    out.push_back(line);
    lo_message_free(m);
    pos += n;
  }
  return out;
}

class OscTest : public ::testing::Test {
 protected:
  void SetUp() override {
    section_ = "/orvante-test-osc-" + std::to_string(::getpid());
    orv::RemoveSharedSections(section_);
    ::setenv("ORVANTE_SHM_NAME", section_.c_str(), 1);
    app = AppState{};
    timer = TimerState{};
    player = PlayerState{};
    control = ControlState{};
    recog.JudgedGesture = -2;
    CloseOsc();
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path);
    OpenSharedMemory();
  }
  void TearDown() override {
    CloseOsc();
    std::filesystem::current_path(old_);
    orv::RemoveSharedSections(section_);
  }
  // Word i of the section as another process sees it.
  static int32_t Word(int i) {
    CopySharedIn();
    return player.SharedMirror[static_cast<size_t>(i)];
  }
  static void SetWord(int i, int32_t v) {
    CopySharedIn();
    player.SharedMirror[static_cast<size_t>(i)] = v;
    CopySharedOut();
  }
  void Settings(const std::string& text) { orvtest::WriteFile(dir_.path / "osc.txt", text); }

  orvtest::TempDir dir_;
  std::filesystem::path old_;
  std::string section_;
};

}  // namespace

// ---- settings ---------------------------------------------------------------

TEST_F(OscTest, BadLinesAreReportedWithTheirNumberAndTheRestIsTaken) {
  const int port = FreePort();
  Settings("# players of the east hall\n"
           "send 127.0.0.1 9001\n"
           "send 127.0.0.1\n"
           "send 127.0.0.1 70000\n"
           "listen 0\n"
           "volume 11\n"
           "  id   stage left  \r\n"
           "listen " + std::to_string(port) + "\n"
           "listen 9002\n"
           "send localhost 9003\n"
           "id\n");
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  OpenOsc();
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  for (int bad : {3, 4, 5, 6, 9, 11})
    EXPECT_NE(err.find("osc.txt line " + std::to_string(bad) + ":"), std::string::npos) << bad << "\n" << err;
  EXPECT_EQ(orvtest::CountOf(err, "\n"), 6) << err;
  EXPECT_EQ(out, "OSC: id [stage left], sending to 127.0.0.1:9001 localhost:9003, listening on 127.0.0.1:" +
                     std::to_string(port) + "\n");
  ASSERT_EQ(osc.Destinations.size(), 2u);

  // Without an address the listener is bound to loopback only.
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  ASSERT_EQ(::getsockname(osc.Listener.fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
  ASSERT_EQ(a.ss_family, AF_INET);
  const auto* in = reinterpret_cast<const sockaddr_in*>(&a);
  EXPECT_EQ(ntohl(in->sin_addr.s_addr), INADDR_LOOPBACK);
  EXPECT_EQ(ntohs(in->sin_port), port);
}

TEST_F(OscTest, UnresolvableHostOrPortInUseIsOneMessageAndNoOsc) {
  LoopbackSocket holder;  // another program on the port
  const std::string cases[] = {
      "listen " + std::to_string(FreePort()) + "\nsend nohost.invalid 9000\n",
      "send 127.0.0.1 9000\nlisten " + std::to_string(holder.port) + "\n",
      "listen 9000 nohost.invalid\n",
      "send 127.0.0.1 9000\n" + std::string(70000, '#'),  // not a settings file
  };
  for (const auto& text : cases) {
    Settings(text);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    OpenOsc();
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "") << text;
    EXPECT_EQ(orvtest::CountOf(err, "\n"), 1) << err;
    EXPECT_NE(err.find("the player runs on without OSC"), std::string::npos) << err;
    EXPECT_TRUE(osc.Destinations.empty()) << text;
    EXPECT_EQ(osc.Listener.fd, -1) << text;
  }
}

// ---- receiving --------------------------------------------------------------

TEST_F(OscTest, RemoteMotionIsPublishedLikeALocalCameraAndExpires) {
  SetWord(1, 100);  // a camera on this computer (channel 0)
  const int64_t t = 1000000;
  ASSERT_TRUE(TakeOscPacket(Motion(3, 50).data(), Motion(3, 50).size(), t));
  PublishRemoteMotion(t);
  EXPECT_EQ(Word(4), 50);
  EXPECT_EQ(Word(0), 150);

  // A camera-less copy here reports the remote camera in its DifferenceSum.
  player.VR_threshold = player.ZAV_threshold;
  MeasureMotion();
  EXPECT_EQ(player.DifferenceSum, 150);

  // A bundle as players send it: other messages ride along and are accepted.
  const Bytes b = Bundle({Motion(3, 70), Message("/orvante/frame", "sif", {"far", "1", "12.5"}),
                          Message("/orvante/count", "si", {"far", "4"})});
  ASSERT_TRUE(TakeOscPacket(b.data(), b.size(), t + 400000));
  PublishRemoteMotion(t + 400000);
  EXPECT_EQ(Word(0), 170);

  PublishRemoteMotion(t + 900000);  // exactly 0.5 s since the refresh: still held
  EXPECT_EQ(Word(4), 70);
  SetWord(4, 0);  // a copy starting here clears the words; the held value comes back
  PublishRemoteMotion(t + 900000);
  EXPECT_EQ(Word(4), 70);

  PublishRemoteMotion(t + 900001);  // silent for more than 0.5 s
  EXPECT_EQ(Word(4), 0);
  EXPECT_EQ(Word(1), 100);
  EXPECT_EQ(Word(0), 100);
  SetWord(4, 33);  // once expired, the word is no longer this copy's to write
  PublishRemoteMotion(t + 2000000);
  EXPECT_EQ(Word(4), 33);

  // This copy's own camera channel: ignored with one warning, the camera's word left alone,
  // and a value held from before the camera came on is dropped.
  ASSERT_TRUE(TakeOscPacket(Motion(2, 9).data(), Motion(2, 9).size(), t));
  player.CameraOn = 1;
  player.CamChan = 2;
  SetWord(3, 500);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(TakeOscPacket(Motion(2, 7).data(), Motion(2, 7).size(), t));
  PublishRemoteMotion(t);
  EXPECT_EQ(orvtest::CountOf(testing::internal::GetCapturedStderr(), "camera channel 2"), 1);
  EXPECT_EQ(Word(3), 500);
  EXPECT_EQ(osc.BadPackets, 0);
}

TEST_F(OscTest, BadPacketsAreDroppedCountedAndTakeNothing) {
  Bytes unpadded = {'/', 'o', 0, ',', 'i', 0, 0, 0, 0, 0, 0, 1};  // path padded to 3 bytes
  Bytes unterminated = Motion(1, 5);
  for (size_t i = 0; i < 16; ++i)
    if (unterminated[i] == 0) unterminated[i] = 'x';  // path runs into the type tags
  Bytes nested = Motion(1, 5);
  for (int i = 0; i < 1000; ++i) nested = Bundle({nested});
  Bytes tooDeep = Motion(1, 5);
  for (int i = 0; i <= kOscMaxNesting; ++i) tooDeep = Bundle({tooDeep});
  Bytes shortElement = Bundle({Motion(1, 5)});
  shortElement[19] += 4;  // element size beyond the end
  Bytes truncated = Motion(1, 5);
  truncated.resize(truncated.size() - 4);  // last argument missing
  Bytes huge = Bundle({Motion(1, 5)});
  huge.resize(64 * 1024, 0);

  const std::vector<Bytes> bad = {
      {},
      {'/'},
      unpadded,
      unterminated,
      truncated,
      Message("/orvante/motion", "sfii", {"far", "1", "5", "0"}),
      Message("/orvante/motion", "sii", {"far", "1", "5"}),
      Message("/orvante/other", "siii", {"far", "1", "5", "0"}),
      Message("/orvante/frame", "sii", {"far", "1", "5"}),
      Motion(32, 5),
      Motion(-1, 5),
      Motion(1, -5),
      Motion(1, kOscMaxMotion + 1),
      nested,
      tooDeep,
      shortElement,
      Bytes{'/', 'a', 0, 0, ',', 's', 0, 0, 'a', 'b', 'c', 'd'},  // string without terminator
      Bundle({Motion(1, 5), Message("/x", "i", {"1"})}),  // one bad element drops the whole packet
      huge,
      Bytes{'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0},
  };
  for (const auto& p : bad) EXPECT_FALSE(TakeOscPacket(p.data(), p.size(), 1000)) << p.size();
  PublishRemoteMotion(1000);
  EXPECT_EQ(osc.BadPackets, static_cast<long>(bad.size()));
  for (int i = 0; i <= 32; ++i) EXPECT_EQ(Word(i), 0) << i;

  // Sound ones around them still count: nesting within the limit, a far-future time tag (taken now).
  Bytes deep = Motion(1, 5);
  for (int i = 0; i < kOscMaxNesting; ++i) deep = Bundle({deep});
  const Bytes later = Bundle({Motion(2, 6)}, 0xffffffffu, 0);
  EXPECT_TRUE(TakeOscPacket(deep.data(), deep.size(), 1000));
  EXPECT_TRUE(TakeOscPacket(later.data(), later.size(), 1000));
  PublishRemoteMotion(1000);
  EXPECT_EQ(Word(0), 11);
}

// Datagrams the fuzzer found faults with (fuzz/regressions/osc_packet): each is taken or
// counted as bad, and the section holds only sound values. The motion message's arguments lie
// at 4-byte alignment in liblo's copy; they used to be read through liblo's 8-byte-aligned
// union (undefined behaviour, reported by the sanitizers).
TEST_F(OscTest, KeptFuzzInputsAreTakenOrCountedSoundly) {
  const auto dir = std::filesystem::path(ORVANTE_SOURCE_DIR) / "fuzz/regressions/osc_packet";
  int kept = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string bytes = orvtest::ReadFile(e.path());
    const long bad = osc.BadPackets;
    const bool taken = TakeOscPacket(bytes.data(), bytes.size(), 1000);
    EXPECT_EQ(osc.BadPackets, bad + (taken ? 0 : 1)) << e.path();
    PublishRemoteMotion(1000);
    uint32_t sum = 0;
    for (int i = 1; i <= kOscChannels; ++i) {
      EXPECT_GE(Word(i), 0) << e.path();
      EXPECT_LE(Word(i), kOscMaxMotion) << e.path();
      sum += static_cast<uint32_t>(Word(i));
    }
    EXPECT_EQ(Word(0), static_cast<int32_t>(sum)) << e.path();
    ++kept;
  }
  EXPECT_GE(kept, 1);
  // "far" on camera channel 7 with 48000.
  EXPECT_EQ(osc.RemoteValue[7], 48000);
}

TEST_F(OscTest, ReceivingReadsABoundedNumberOfDatagramsPerCycle) {
  Settings("listen " + std::to_string(FreePort()) + "\n");
  testing::internal::CaptureStdout();
  OpenOsc();
  testing::internal::GetCapturedStdout();
  ASSERT_GE(osc.Listener.fd, 0);
  osc.PacketsPerCycle = 10;

  LoopbackSocket sender;
  for (int i = 0; i < 24; ++i) sender.SendTo(osc.ListenPort, Motion(i % 4, 100 + i));
  sender.SendTo(osc.ListenPort, Bytes(9000, 'x'));  // oversized: read whole, counted, dropped
  ReceiveOsc();
  EXPECT_EQ(osc.MotionTaken, 10);
  ReceiveOsc();
  ReceiveOsc();
  EXPECT_EQ(osc.MotionTaken, 24);
  EXPECT_EQ(osc.BadPackets, 1);
  EXPECT_EQ(Word(1) + Word(2) + Word(3) + Word(4), 120 + 121 + 122 + 123);

  control.MonitorMode = 2;
  testing::internal::CaptureStdout();
  PrintOscStatus();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[OSC bad=      1 ]");
}

// ---- sending ----------------------------------------------------------------

TEST_F(OscTest, BundleCarriesMotionEveryCycleAndTheRestOnChange) {
  osc.Id = "alpha";
  player.CameraOn = 1;
  player.CamChan = 3;
  player.VR_threshold = 9600;
  player.DifferenceSum = 48000;
  player.MaxCount = 100;
  player.ContentNumber = 1;
  player.frame_no = 12.75;
  player.motion_count = 0;
  std::snprintf(recog.JudgedName + 1, sizeof recog.JudgedName - 1, "wave");
  recog.JudgedGesture = 2;
  recog.PHASE = 40;
  recog.SPEED = 5;
  recog.ACCEL = -1;
  recog.WIDTH = 100;
  recog.JudgedLength = 80;

  Bytes b(2048);
  b.resize(BuildOscBundle(b.data(), b.size()));
  EXPECT_EQ(Decode(b), (std::vector<std::string>{
                           "/orvante/motion siii \"alpha\" 3 48000 9600",
                           "/orvante/frame sif \"alpha\" 2 12.75",
                           "/orvante/gesture sisiiiii \"alpha\" 2 \"wave\" 40 5 -1 100 80",
                       }));

  // Same frame, no judgement, the count moved: motion and count only.
  player.frame_no = 12.9;
  recog.JudgedGesture = -2;
  player.motion_count = 7;
  b.resize(2048);
  b.resize(BuildOscBundle(b.data(), b.size()));
  EXPECT_EQ(Decode(b), (std::vector<std::string>{"/orvante/motion siii \"alpha\" 3 48000 9600",
                                                 "/orvante/count si \"alpha\" 7"}));

  // Camera off and nothing changed: nothing at all is sent.
  player.CameraOn = 0;
  EXPECT_EQ(BuildOscBundle(b.data(), 2048), 0u);
  player.frame_no = 13.0;
  b.resize(2048);
  b.resize(BuildOscBundle(b.data(), b.size()));
  EXPECT_EQ(Decode(b), (std::vector<std::string>{"/orvante/frame sif \"alpha\" 2 13"}));

  // A name without an end byte is cut at the end of the result block, never read past.
  std::memset(recog.JudgedName, 'n', sizeof recog.JudgedName);
  recog.JudgedGesture = 2;
  b.resize(2048);
  b.resize(BuildOscBundle(b.data(), b.size()));
  ASSERT_EQ(Decode(b).size(), 1u);
  EXPECT_NE(Decode(b)[0].find(" \"" + std::string(sizeof recog.JudgedName - 1, 'n') + "\" "), std::string::npos)
      << Decode(b)[0];
}

// ---- remote commands: bounds and order ---------------------------------------

namespace {

OscSender From(uint32_t ipv4, bool mapped = false) {
  OscSender s;
  if (mapped) {
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&s.addr);
    a6->sin6_family = AF_INET6;
    a6->sin6_addr.s6_addr[10] = a6->sin6_addr.s6_addr[11] = 0xff;
    const uint32_t n = htonl(ipv4);
    std::memcpy(a6->sin6_addr.s6_addr + 12, &n, sizeof n);
    s.len = sizeof *a6;
  } else {
    auto* a4 = reinterpret_cast<sockaddr_in*>(&s.addr);
    a4->sin_family = AF_INET;
    a4->sin_addr.s_addr = htonl(ipv4);
    s.len = sizeof *a4;
  }
  return s;
}

Bytes Key(const std::string& k) { return Message("/orvante/key", "s", {k}); }

std::string Drain() {
  std::string keys;
  for (OscCommand c; TakeRemoteCommand(&c);) keys += c.key ? static_cast<char>(c.key) : '#';
  return keys;
}

}  // namespace

TEST_F(OscTest, QueueHoldsSixteenCommandsInOrderAndDropsAndCountsTheRest) {
  const std::string keys = "zxZ,X.vVqiejJlhHB";  // 17 command keys
  ASSERT_EQ(keys.size(), static_cast<size_t>(kOscQueueMax + 1));
  std::vector<Bytes> all;
  for (char k : keys) all.push_back(Key(std::string(1, k)));
  for (const bool bundled : {true, false}) {
    SCOPED_TRACE(bundled);
    osc.CommandsTaken = osc.CommandsDropped = 0;
    testing::internal::CaptureStderr();
    if (bundled) {
      const Bytes b = Bundle(all);
      EXPECT_TRUE(TakeOscPacket(b.data(), b.size(), 1000));
    } else {
      for (const Bytes& m : all) EXPECT_TRUE(TakeOscPacket(m.data(), m.size(), 1000));
    }
    EXPECT_EQ(orvtest::CountOf(testing::internal::GetCapturedStderr(), "16 remote commands are waiting"), 1);
    EXPECT_EQ(osc.QueueCount, kOscQueueMax);
    EXPECT_EQ(osc.CommandsTaken, kOscQueueMax);
    EXPECT_EQ(osc.CommandsDropped, 1);
    EXPECT_EQ(Drain(), keys.substr(0, 16));
    EXPECT_FALSE(osc.QueueFullWarned);  // an emptied queue warns again when it next fills
  }

  // Below the limit nothing is dropped or said. The ring wraps round; an ESC taken from the
  // middle (a teaching's cancel) leaves the others in their order, a threshold among them.
  testing::internal::CaptureStderr();
  for (char k : std::string("1234567zxZ,X")) TakeOscPacket(Key(std::string(1, k)).data(), Key("1").size(), 1000);
  OscCommand c;
  for (int i = 0; i < 11; ++i) TakeRemoteCommand(&c);  // the ring's head is now at 11
  const Bytes rest = Bundle({Key("x"), Key("z"), Key("ESC"), Message("/orvante/threshold", "i", {"777"}), Key("h"),
                             Key("ESC"), Key("j")});
  EXPECT_TRUE(TakeOscPacket(rest.data(), rest.size(), 1000));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(TakeRemoteEsc());
  EXPECT_TRUE(TakeRemoteEsc());
  EXPECT_FALSE(TakeRemoteEsc());
  EXPECT_EQ(TakeRemoteKey(), 'X');
  EXPECT_EQ(TakeRemoteKey(), 'x');
  EXPECT_EQ(TakeRemoteKey(), 'z');
  EXPECT_EQ(TakeRemoteKey(), 0);  // the threshold is next: no key to take
  ASSERT_TRUE(TakeRemoteCommand(&c));
  EXPECT_EQ(c.threshold, 777);
  EXPECT_EQ(Drain(), "hj");
  EXPECT_EQ(osc.CommandsDropped, 1);  // nothing more since the full queue
}

TEST_F(OscTest, SendersAreWarnedAboutOnceEachAndOnlyTheFirstSixtyFour) {
  const Bytes key = Key("x");
  auto take = [&](const OscSender& from) { return TakeOscPacket(key.data(), key.size(), 1000, &from); };
  // Without control lines only this computer may command, IPv4-mapped IPv6 included.
  EXPECT_TRUE(take(From(0x7f000001, true)));
  EXPECT_TRUE(take(From(0x7f000002)));
  EXPECT_EQ(Drain(), "xx");

  testing::internal::CaptureStderr();
  for (uint32_t i = 1; i <= kOscWarnedMax + 2; ++i) {
    EXPECT_FALSE(take(From(0x0a000000 + i)));
    EXPECT_FALSE(take(From(0x0a000000 + i)));
  }
  const Bytes badKey = Key("abcdefghijklmnopqrst");
  EXPECT_FALSE(TakeOscPacket(badKey.data(), badKey.size(), 1000, nullptr));
  EXPECT_FALSE(TakeOscPacket(badKey.data(), badKey.size(), 1000, nullptr));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(orvtest::CountOf(err, "are not allowed"), kOscWarnedMax);
  EXPECT_EQ(orvtest::CountOf(err, "commands from 10.0.0.64 are not allowed"), 1);
  EXPECT_EQ(orvtest::CountOf(err, "10.0.0.65"), 0);
  EXPECT_EQ(orvtest::CountOf(err, "more than 64 senders have been warned about"), 1);
  EXPECT_EQ(orvtest::CountOf(err, "[abcdefghijklmnop] is no command"), 0);  // beyond the 64: silent
  EXPECT_EQ(osc.QueueCount, 0);
  EXPECT_EQ(osc.BadPackets, 2 * (kOscWarnedMax + 2) + 2);

  // A sender among the first 64 is still told about another kind of fault, once.
  CloseOsc();
  testing::internal::CaptureStderr();
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(TakeOscPacket(badKey.data(), badKey.size(), 1000, nullptr));
    EXPECT_FALSE(take(From(0x0a090909, true)));
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "OSC: /orvante/key [abcdefghijklmnop] is no command of the player (from 127.0.0.1); dropped\n"
            "OSC: commands from 10.9.9.9 are not allowed (see the control lines of osc.txt); dropped\n");
}

TEST_F(OscTest, StateGoesOutOncePerPeriodWithTheLastJudgement) {
  LoopbackSocket receiver;
  Settings("send 127.0.0.1 " + std::to_string(receiver.port) + "\ncontrol 127.0.0.1\nid beta\n");
  testing::internal::CaptureStdout();
  OpenOsc();
  testing::internal::GetCapturedStdout();
  recog.JudgedGesture = 3;
  recog.PHASE = 42;
  SendOsc();
  recog.JudgedGesture = -2;  // no judgement: the last one is kept
  recog.PHASE = 0;
  SendOsc();  // the first state goes out with the first bundle
  const int64_t t = osc.StateSentUs;
  SendPeriodicState(t + kOscStatePeriodUs - 1);
  SendPeriodicState(t + kOscStatePeriodUs);
  std::vector<std::string> got;
  Bytes b(1024);
  for (ssize_t n; (n = ::recv(receiver.s.fd, b.data(), b.size(), MSG_DONTWAIT)) > 0;) {
    Bytes m(b.begin(), b.begin() + n);
    if (std::string(reinterpret_cast<const char*>(m.data())) == "/orvante/state")
      got.push_back(Decode(Bundle({m}))[0]);
  }
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(got[0].find(" 3 42 "), std::string::npos) << got[0];
}

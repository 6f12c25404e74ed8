// Open Sound Control link: motion and judgement sent to other machines and media tools,
// remote motion received into the shared section. All of it is off unless osc.txt exists.
#pragma once
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orv {

constexpr int kOscChannels = 32;            // camera channels that own a word of the shared section
constexpr int kOscMaxPacket = 8192;         // bytes; a player's bundle is about 250, larger ones are bad
constexpr int kOscMaxNesting = 8;           // bundle levels accepted; deeper packets are bad
constexpr int kOscMaxDestinations = 16;     // "send" lines taken
constexpr int kOscIdMax = 63;               // bytes of an "id" name
constexpr int64_t kOscExpiryUs = 500000;    // a remote word not refreshed for 0.5 s goes back to 0
constexpr int32_t kOscMaxMotion = 320 * 240 * 255;  // largest DifferenceSum a camera can give
constexpr int kOscMaxControl = 16;          // IPv4 addresses the "control" lines may name
constexpr int kOscQueueMax = 16;            // remote commands waiting for the command step
constexpr int kOscWarnedMax = 64;           // senders whose warnings are remembered (UDP senders can be forged)
constexpr int64_t kOscStatePeriodUs = 1000000;  // /orvante/state to every destination while "control" lines exist

// A UDP socket, closed with its owner.
struct OscSocket {
  int fd = -1;  // -1: none
  OscSocket() = default;
  explicit OscSocket(int f) : fd(f) {}
  ~OscSocket();
  OscSocket(OscSocket&& o) noexcept : fd(o.fd) { o.fd = -1; }
  OscSocket& operator=(OscSocket&& o) noexcept;
  OscSocket(const OscSocket&) = delete;
  OscSocket& operator=(const OscSocket&) = delete;
};

// One "send HOST PORT" line, resolved at start-up.
struct OscDestination {
  std::string host;             // as written in osc.txt
  int port = 0;                 // 1..65535
  sockaddr_storage addr{};      // resolved address
  socklen_t addrLen = 0;        // bytes of addr in use
  OscSocket socket;             // non-blocking socket of the address's family
};

// One remote command waiting for the command step.
struct OscCommand {
  int key = 0;        // key code 1..255 as typed; 0: a threshold command
  int threshold = 0;  // the threshold to set when key is 0, 0..INT_MAX
};

// A sender that has been warned about: each kind of warning goes out once per sender.
struct OscWarnedSender {
  uint32_t address = 0;  // IPv4 in host order; 0 stands for every sender that is not IPv4
  unsigned kinds = 0;    // bit 0: commands refused (sender not allowed), bit 1: a bad command
};

struct OscState {
  // settings (osc.txt)
  std::string Id;                            // this player's name in its messages; default the host name
  std::vector<OscDestination> Destinations;  // empty: nothing is sent
  OscSocket Listener;                        // bound, non-blocking; fd -1: nothing is received
  std::string ListenAddress;                 // address the listener is bound to ("127.0.0.1" by default)
  int ListenPort = 0;                        // 0: no "listen" line
  // IPv4 senders (host order) allowed to send commands and status requests, from the "control"
  // lines; with none, only loopback senders (127.0.0.0/8) may.
  std::array<uint32_t, kOscMaxControl> ControlAddress{};
  int ControlCount = 0;                      // entries of ControlAddress in use, 0..kOscMaxControl

  // sending: what the last messages carried, so that only changes are sent
  int SentContent = -1;      // content number (1 = S001) of the last /orvante/frame, -1: none yet
  int SentFrame = -1;        // shown frame (integer part of frame_no) of the last /orvante/frame
  int SentMotionCount = 0;   // motion_count at start-up or in the last /orvante/count
  long BundlesSent = 0;      // bundles handed to the system, all destinations counted
  long SendFailures = 0;     // datagrams refused (destination unreachable, buffer full): dropped

  // receiving
  std::array<int32_t, kOscChannels> RemoteValue{};  // latest value received per camera channel
  std::array<int64_t, kOscChannels> RemoteSeen{};   // monotonic µs of its last refresh; 0: no remote value held
  int PacketsPerCycle = 256;      // datagrams read per cycle at most (1..), about 0.5 ms of work:
                                  // a flood waits in the socket and overflows there, not in the cycle
  long BadPackets = 0;            // datagrams dropped: malformed, oversized, wrong types, unknown address,
                                  // camera channel outside 0..31, value outside 0..kOscMaxMotion
  long MotionTaken = 0;           // /orvante/motion messages written into the section
  bool OwnChannelWarned = false;  // the warning about a remote sender on this copy's camera channel is out

  // remote operation
  std::array<OscCommand, kOscQueueMax> Queue{};  // ring of waiting commands, in arrival order
  int QueueHead = 0;              // slot of the oldest waiting command, 0..kOscQueueMax-1
  int QueueCount = 0;             // commands waiting, 0..kOscQueueMax
  long CommandsTaken = 0;         // commands put into the queue
  long CommandsDropped = 0;       // commands that found the queue full (not counted as bad)
  bool QueueFullWarned = false;   // the queue-full warning is out; cleared when the queue empties
  long StatusAnswered = 0;        // /orvante/state answers handed to the system
  std::array<OscWarnedSender, kOscWarnedMax> Warned{};  // senders warned about
  int WarnedCount = 0;            // entries of Warned in use; beyond kOscWarnedMax nobody is warned about
  int LastGesture = -1;           // last judged gesture published (0..7), -1: none yet
  int LastPhase = -1;             // its PHASE, -1: none yet
  int64_t StartUs = 0;            // monotonic µs at start-up (the uptime of /orvante/state)
  int64_t StateSentUs = 0;        // monotonic µs of the last periodic /orvante/state, 0: none yet
};
extern OscState osc;

}  // namespace orv

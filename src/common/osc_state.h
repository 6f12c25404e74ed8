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

struct OscState {
  // settings (osc.txt)
  std::string Id;                            // this player's name in its messages; default the host name
  std::vector<OscDestination> Destinations;  // empty: nothing is sent
  OscSocket Listener;                        // bound, non-blocking; fd -1: nothing is received
  std::string ListenAddress;                 // address the listener is bound to ("127.0.0.1" by default)
  int ListenPort = 0;                        // 0: no "listen" line

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
};
extern OscState osc;

}  // namespace orv

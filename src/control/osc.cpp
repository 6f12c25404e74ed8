// Open Sound Control over UDP. liblo builds, serialises and decodes every OSC message; the
// transport is two plain datagram sockets, because liblo's own servers bind every interface of
// the machine and its sends may block, and neither is acceptable in the player's cycle.
#include "control/osc.h"

#include <lo/lo.h>
#include <lo/lo_lowlevel.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "control/osc_state.h"
#include "player/player_state.h"
#include "common/display.h"
#include "common/limits.h"
#include "recognition/recognition_state.h"
#include "control/control.h"
#include "control/teaching.h"
#include "player/player.h"
#include "player/motion.h"

namespace orv {

OscState osc;

OscSocket::~OscSocket() {
  if (fd >= 0) ::close(fd);
}

OscSocket& OscSocket::operator=(OscSocket&& o) noexcept {
  if (this != &o) {
    if (fd >= 0) ::close(fd);
    fd = o.fd;
    o.fd = -1;
  }
  return *this;
}

namespace {

// --- settings and sockets ---

constexpr const char* kSettingsFile = "osc.txt";
constexpr size_t kMaxLine = 1024;
constexpr size_t kMaxSettings = 64 * 1024;

struct AddrInfoFree {
  void operator()(addrinfo* a) const { ::freeaddrinfo(a); }
};
struct MessageFree {
  void operator()(void* m) const { lo_message_free(static_cast<lo_message>(m)); }
};

void BadLine(int line, const std::string& what) {
  std::fprintf(stderr, "osc.txt line %d: %s; line ignored\n", line, what.c_str());
}

// Decimal 1..65535 and nothing else (no service names, no signs).
bool ParsePort(const std::string& s, int* port) {
  if (s.empty() || s.size() > 5) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > 65535) return false;
  *port = v;
  return true;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "orvante";
  return std::string(name).substr(0, kOscIdMax);
}

// First address of host:port for datagrams; passive (any local address) when host is empty.
std::unique_ptr<addrinfo, AddrInfoFree> Resolve(const std::string& host, int port, bool passive,
                                                std::string* why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
  addrinfo* res = nullptr;
  const std::string service = std::to_string(port);
  const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &res);
  if (rc != 0 || !res) {
    *why = rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc);
    return nullptr;
  }
  return std::unique_ptr<addrinfo, AddrInfoFree>(res);
}

bool OpenDestination(const std::string& host, int port, OscDestination* d, std::string* why) {
  auto ai = Resolve(host, port, false, why);
  if (!ai) return false;
  OscSocket s(::socket(ai->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (s.fd < 0) {
    *why = std::strerror(errno);
    return false;
  }
  const int on = 1;  // media tools are often reached by a broadcast address
  ::setsockopt(s.fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  d->host = host;
  d->port = port;
  std::memcpy(&d->addr, ai->ai_addr, ai->ai_addrlen);
  d->addrLen = ai->ai_addrlen;
  d->socket = std::move(s);
  return true;
}

// No address reuse: a port that another program holds is reported, not shared.
bool OpenListener(const std::string& address, int port, OscSocket* out, std::string* why) {
  auto ai = Resolve(address, port, true, why);
  if (!ai) return false;
  OscSocket s(::socket(ai->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (s.fd < 0 || ::bind(s.fd, ai->ai_addr, ai->ai_addrlen) != 0) {
    *why = std::strerror(errno);
    return false;
  }
  *out = std::move(s);
  return true;
}

// Every IPv4 address of a "control" line (an address, or a host name resolved now, once).
bool ResolveControl(const std::string& host, std::vector<uint32_t>* out, std::string* why) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* res = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &res);
  if (rc != 0 || !res) {
    *why = rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc);
    return false;
  }
  std::unique_ptr<addrinfo, AddrInfoFree> all(res);
  for (const addrinfo* a = res; a; a = a->ai_next) {
    const uint32_t v = ntohl(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
    if (std::find(out->begin(), out->end(), v) == out->end()) out->push_back(v);
  }
  return true;
}

void RunWithoutOsc(const std::string& what, const std::string& why) {
  std::fprintf(stderr, "OSC: %s: %s; the player runs on without OSC\n", what.c_str(), why.c_str());
  CloseOsc();
}

// --- receiving: senders, the command queue, decoding ---

// What one datagram carries, applied only when all of it is sound.
struct MotionUpdates {
  std::array<int32_t, kOscChannels> value{};
  std::array<bool, kOscChannels> set{};
  long messages = 0;
  bool allowed = true;    // the sender may command (checked before the packet is decoded)
  bool refused = false;   // a command or status request from a sender not allowed
  std::string badCommand;  // what made a command bad, for its one warning
  std::array<OscCommand, kOscQueueMax> commands{};
  int commandCount = 0;   // commands beyond the queue's size are dropped as a full queue drops them
  long commandsOver = 0;
  bool status = false;    // a status request is to be answered
};

constexpr unsigned kWarnRefused = 1;
constexpr unsigned kWarnBadCommand = 2;

// IPv4 of a sender in host order; 0 for one that is not IPv4 (IPv4-mapped IPv6 counts as IPv4).
uint32_t SenderAddress(const OscSender& from) {
  if (from.addr.ss_family == AF_INET)
    return ntohl(reinterpret_cast<const sockaddr_in*>(&from.addr)->sin_addr.s_addr);
  if (from.addr.ss_family == AF_INET6) {
    const auto* a6 = reinterpret_cast<const sockaddr_in6*>(&from.addr);
    if (IN6_IS_ADDR_V4MAPPED(&a6->sin6_addr)) {
      uint32_t v;
      std::memcpy(&v, a6->sin6_addr.s6_addr + 12, sizeof v);
      return ntohl(v);
    }
  }
  return 0;
}

bool SenderAllowed(uint32_t a) {
  if (osc.ControlCount == 0) return a != 0 && (a >> 24) == 127;
  for (int i = 0; i < osc.ControlCount; ++i)
    if (osc.ControlAddress[static_cast<size_t>(i)] == a) return true;
  return false;
}

std::string AddressText(uint32_t a) {
  if (a == 0) return "a sender that is not IPv4";
  char b[INET_ADDRSTRLEN] = {};
  const uint32_t n = htonl(a);
  ::inet_ntop(AF_INET, &n, b, sizeof b);
  return b;
}

// A warning goes out once per kind and sender, for the first kOscWarnedMax senders only: a
// flood of forged senders must not flood the console.
bool FirstWarning(uint32_t a, unsigned kind) {
  // WarnedCount goes one past the table once the "more than" line is out: never read there.
  for (int i = 0; i < std::min(osc.WarnedCount, kOscWarnedMax); ++i) {
    OscWarnedSender& w = osc.Warned[static_cast<size_t>(i)];
    if (w.address != a) continue;
    if (w.kinds & kind) return false;
    w.kinds |= kind;
    return true;
  }
  if (osc.WarnedCount > kOscWarnedMax) return false;
  if (osc.WarnedCount == kOscWarnedMax) {
    ++osc.WarnedCount;
    std::fprintf(stderr, "OSC: more than %d senders have been warned about; further ones are dropped silently\n",
                 kOscWarnedMax);
    return false;
  }
  osc.Warned[static_cast<size_t>(osc.WarnedCount++)] = OscWarnedSender{a, kind};
  return true;
}

void AddCommand(MotionUpdates* u, OscCommand c) {
  if (u->commandCount < kOscQueueMax)
    u->commands[static_cast<size_t>(u->commandCount++)] = c;
  else
    ++u->commandsOver;
}

void DropCommands(long n) {
  osc.CommandsDropped += n;
  if (!osc.QueueFullWarned)
    std::fprintf(stderr, "OSC: %d remote commands are waiting; further ones are dropped until they have run\n",
                 kOscQueueMax);
  osc.QueueFullWarned = true;
}

void Enqueue(const OscCommand& c) {
  if (osc.QueueCount >= kOscQueueMax) return DropCommands(1);
  osc.Queue[static_cast<size_t>((osc.QueueHead + osc.QueueCount) % kOscQueueMax)] = c;
  ++osc.QueueCount;
  ++osc.CommandsTaken;
}

// Removes the waiting command at ring position i (0 = oldest), keeping the others' order.
OscCommand Dequeue(int i) {
  const auto slot = [](int k) { return static_cast<size_t>((osc.QueueHead + k) % kOscQueueMax); };
  const OscCommand c = osc.Queue[slot(i)];
  for (int k = i; k > 0; --k) osc.Queue[slot(k)] = osc.Queue[slot(k - 1)];
  osc.QueueHead = (osc.QueueHead + 1) % kOscQueueMax;
  if (--osc.QueueCount == 0) osc.QueueFullWarned = false;
  return c;
}

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

bool OwnCamera(int chan) { return player.CameraOn != 0 && chan == player.CamChan; }

// liblo hands out a decoded message's arguments where they lie in the packet, 4-byte aligned,
// below the alignment its lo_arg union (64-bit members) declares: read them as bytes, never
// through the union.
int32_t ArgInt(const lo_arg* a) {
  int32_t v;
  std::memcpy(&v, a, sizeof v);
  return v;
}
const char* ArgString(const lo_arg* a) { return reinterpret_cast<const char*>(a); }

bool DecodeMessage(const uint8_t* p, size_t n, MotionUpdates* u) {
  if (n < 4 || n % 4 != 0 || p[0] != '/') return false;
  int result = 0;
  std::unique_ptr<void, MessageFree> m(lo_message_deserialise(const_cast<uint8_t*>(p), n, &result));
  if (!m) return false;
  // The path is the message's first string, which the decoder has checked to end inside n.
  const char* path = reinterpret_cast<const char*>(p);
  const char* types = lo_message_get_types(m.get());
  if (!types) return false;
  lo_arg** argv = lo_message_get_argv(m.get());

  if (std::strcmp(path, "/orvante/motion") == 0) {
    if (std::strcmp(types, "siii") != 0) return false;
    const int chan = ArgInt(argv[1]);
    const int value = ArgInt(argv[2]);
    if (chan < 0 || chan >= kOscChannels || value < 0 || value > kOscMaxMotion) return false;
    if (OwnCamera(chan)) {
      // Two cameras must not write one word; the local camera keeps it.
      if (!osc.OwnChannelWarned)
        std::fprintf(stderr, "OSC: /orvante/motion from [%.*s] is for camera channel %d, this player's own camera; ignored\n",
                     kOscIdMax, ArgString(argv[0]), chan);
      osc.OwnChannelWarned = true;
      return true;
    }
    u->value[static_cast<size_t>(chan)] = value;
    u->set[static_cast<size_t>(chan)] = true;
    ++u->messages;
    return true;
  }
  const bool key = std::strcmp(path, "/orvante/key") == 0;
  const bool threshold = std::strcmp(path, "/orvante/threshold") == 0;
  const bool status = std::strcmp(path, "/orvante/status") == 0;
  if (key || threshold || status) {
    if (std::strcmp(types, key ? "s" : threshold ? "i" : "") != 0) return false;
    if (!u->allowed) {
      u->refused = true;
      return false;
    }
    if (status) {
      u->status = true;
    } else if (key) {
      const std::string token = ArgString(argv[0]);
      const int code = RemoteKeyCode(token);
      if (code < 0) {
        u->badCommand = "/orvante/key [" + token.substr(0, 16) + "] is no command of the player";
        return false;
      }
      AddCommand(u, OscCommand{code, 0});
    } else {
      const int v = ArgInt(argv[0]);
      if (v < 0) {
        u->badCommand = "/orvante/threshold " + std::to_string(v) + " is below 0";
        return false;
      }
      AddCommand(u, OscCommand{0, v});
    }
    return true;
  }
  // The other messages of a player are well-formed traffic between players; nothing to take.
  if (std::strcmp(path, "/orvante/state") == 0) return std::strcmp(types, "sisifiiiiisi") == 0;
  if (std::strcmp(path, "/orvante/frame") == 0) return std::strcmp(types, "sif") == 0;
  if (std::strcmp(path, "/orvante/gesture") == 0) return std::strcmp(types, "sisiiiii") == 0;
  if (std::strcmp(path, "/orvante/count") == 0) return std::strcmp(types, "si") == 0;
  return false;
}

// A bundle's time tag is not honoured: everything is taken in the cycle it arrives, so nothing
// received is ever queued for later.
bool DecodeElement(const uint8_t* p, size_t n, int depth, MotionUpdates* u) {
  static constexpr char kBundleTag[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', '\0'};
  if (n < 8 || std::memcmp(p, kBundleTag, 8) != 0) return DecodeMessage(p, n, u);
  if (depth >= kOscMaxNesting || n < 16) return false;
  size_t pos = 16;
  while (pos < n) {
    if (n - pos < 4) return false;
    const uint32_t size = BigEndian32(p + pos);
    pos += 4;
    if (size == 0 || size % 4 != 0 || size > n - pos) return false;
    if (!DecodeElement(p + pos, size, depth + 1, u)) return false;
    pos += size;
  }
  return true;
}

// --- sending ---

// Adds one message built by fill; false when liblo could not allocate.
template <typename Fill>
bool AddMessage(lo_bundle b, const char* path, Fill fill) {
  lo_message m = lo_message_new();
  if (!m) return false;
  fill(m);
  if (lo_bundle_add_message(b, path, m) != 0) {
    lo_message_free(m);
    return false;
  }
  return true;
}

}  // namespace

// --- opening from osc.txt ---

int64_t OscClock() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000 + 1;  // never 0
}

void CloseOsc() { osc = OscState{}; }

void OpenOsc() {
  CloseOsc();
  std::ifstream file(kSettingsFile, std::ios::binary);
  if (!file) return;
  // A settings file is a few lines; anything this large is not one (and is not read into memory).
  std::string text(kMaxSettings + 1, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(file.gcount()));
  if (text.size() > kMaxSettings) {
    std::fprintf(stderr, "OSC: osc.txt is larger than %zu bytes; the player runs on without OSC\n", kMaxSettings);
    return;
  }
  std::istringstream f(text);

  std::string id = HostName();
  std::vector<std::pair<std::string, int>> sends;
  std::string listenAddress = "127.0.0.1";
  int listenPort = 0;
  std::vector<std::string> controls;

  std::string line;
  int number = 0;
  while (std::getline(f, line)) {
    ++number;
    if (line.size() > kMaxLine) {
      BadLine(number, "longer than " + std::to_string(kMaxLine) + " characters");
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string key;
    if (!(words >> key) || key[0] == '#') continue;
    std::vector<std::string> args;
    for (std::string w; words >> w;) args.push_back(w);

    int port = 0;
    if (key == "send") {
      if (args.size() != 2 || !ParsePort(args[1], &port))
        BadLine(number, "expected: send HOST PORT (PORT 1..65535)");
      else if (sends.size() >= kOscMaxDestinations)
        BadLine(number, "more than " + std::to_string(kOscMaxDestinations) + " destinations");
      else
        sends.emplace_back(args[0], port);
    } else if (key == "listen") {
      if (args.empty() || args.size() > 2 || !ParsePort(args[0], &port))
        BadLine(number, "expected: listen PORT [ADDRESS] (PORT 1..65535)");
      else if (listenPort != 0)
        BadLine(number, "a second listen line");
      else {
        listenPort = port;
        if (args.size() == 2) listenAddress = args[1];
      }
    } else if (key == "control") {
      if (args.size() != 1)
        BadLine(number, "expected: control ADDRESS (an IPv4 address or a host name)");
      else
        controls.push_back(args[0]);
    } else if (key == "id") {
      // The name is the rest of the line, so it may hold spaces.
      std::string name = line.substr(line.find("id") + 2);
      const size_t a = name.find_first_not_of(" \t");
      const size_t b = name.find_last_not_of(" \t");
      name = a == std::string::npos ? "" : name.substr(a, b - a + 1);
      if (name.empty() || name.size() > static_cast<size_t>(kOscIdMax))
        BadLine(number, "expected: id NAME (1 to " + std::to_string(kOscIdMax) + " characters)");
      else
        id = name;
    } else {
      BadLine(number, "unknown setting [" + key + "]");
    }
  }

  if (sends.empty() && listenPort == 0) {
    std::printf("OSC: osc.txt names no destination and no listen port; no OSC\n");
    return;
  }
  osc.Id = id;
  std::string why;
  for (const auto& [host, port] : sends) {
    OscDestination d;
    if (!OpenDestination(host, port, &d, &why))
      return RunWithoutOsc("cannot send to " + host + ":" + std::to_string(port), why);
    osc.Destinations.push_back(std::move(d));
  }
  std::vector<uint32_t> allowed;
  for (const auto& host : controls) {
    if (!ResolveControl(host, &allowed, &why)) return RunWithoutOsc("control " + host + " does not resolve", why);
    if (allowed.size() > static_cast<size_t>(kOscMaxControl))
      return RunWithoutOsc("control " + host, "more than " + std::to_string(kOscMaxControl) + " addresses");
  }
  for (size_t i = 0; i < allowed.size(); ++i) osc.ControlAddress[i] = allowed[i];
  osc.ControlCount = static_cast<int>(allowed.size());
  if (!controls.empty() && listenPort == 0)
    std::fprintf(stderr, "OSC: control lines without a listen line: no command can arrive\n");
  if (listenPort != 0) {
    if (!OpenListener(listenAddress, listenPort, &osc.Listener, &why))
      return RunWithoutOsc("cannot listen on " + listenAddress + ":" + std::to_string(listenPort), why);
    osc.ListenAddress = listenAddress;
    osc.ListenPort = listenPort;
    // A player that ends must not leave its remote words frozen in the section either.
    static bool releaseAtExit = false;
    if (!releaseAtExit) std::atexit([] { PublishRemoteMotion(INT64_MAX); });
    releaseAtExit = true;
  }
  osc.SentMotionCount = player.motion_count;
  osc.StartUs = OscClock();

  std::printf("OSC: id [%s]", osc.Id.c_str());
  if (!osc.Destinations.empty()) {
    std::printf(", sending to");
    for (const auto& d : osc.Destinations) std::printf(" %s:%d", d.host.c_str(), d.port);
  }
  if (osc.ListenPort != 0) std::printf(", listening on %s:%d", osc.ListenAddress.c_str(), osc.ListenPort);
  if (osc.ControlCount > 0) {
    std::printf(", commands from");
    for (int i = 0; i < osc.ControlCount; ++i)
      std::printf(" %s", AddressText(osc.ControlAddress[static_cast<size_t>(i)]).c_str());
  }
  std::printf("\n");
}

// --- each cycle: receiving and sending ---

bool TakeOscPacket(const void* data, size_t size, int64_t nowUs, const OscSender* from) {
  MotionUpdates u;
  const uint32_t sender = from ? SenderAddress(*from) : INADDR_LOOPBACK;
  u.allowed = SenderAllowed(sender);
  if (size == 0 || size > static_cast<size_t>(kOscMaxPacket) ||
      !DecodeElement(static_cast<const uint8_t*>(data), size, 0, &u)) {
    ++osc.BadPackets;
    if (u.refused && FirstWarning(sender, kWarnRefused))
      std::fprintf(stderr, "OSC: commands from %s are not allowed (see the control lines of osc.txt); dropped\n",
                   AddressText(sender).c_str());
    else if (!u.badCommand.empty() && FirstWarning(sender, kWarnBadCommand))
      std::fprintf(stderr, "OSC: %s (from %s); dropped\n", u.badCommand.c_str(), AddressText(sender).c_str());
    return false;
  }
  for (size_t c = 0; c < u.set.size(); ++c) {
    if (!u.set[c]) continue;
    osc.RemoteValue[c] = u.value[c];
    osc.RemoteSeen[c] = nowUs > 0 ? nowUs : 1;
  }
  osc.MotionTaken += u.messages;
  for (int i = 0; i < u.commandCount; ++i) Enqueue(u.commands[static_cast<size_t>(i)]);
  if (u.commandsOver > 0) DropCommands(u.commandsOver);
  if (u.status && from && from->len > 0 && osc.Listener.fd >= 0) {
    alignas(4) std::array<uint8_t, 512> buf;
    const size_t n = BuildStateMessage(buf.data(), buf.size());
    // Answered from the listening socket, so the answer comes from the port asked.
    if (n > 0 && ::sendto(osc.Listener.fd, buf.data(), n, MSG_DONTWAIT | MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&from->addr), from->len) == static_cast<ssize_t>(n))
      ++osc.StatusAnswered;
    else
      ++osc.SendFailures;
  }
  return true;
}

void PublishRemoteMotion(int64_t nowUs) {
  std::array<bool, kOscChannels> expired{};
  bool touched = false;
  for (size_t c = 0; c < expired.size(); ++c) {
    if (osc.RemoteSeen[c] == 0) continue;
    touched = true;
    if (nowUs - osc.RemoteSeen[c] > kOscExpiryUs || OwnCamera(static_cast<int>(c))) {
      // The local camera's word is its own; only a remote word goes back to 0.
      expired[c] = !OwnCamera(static_cast<int>(c));
      osc.RemoteSeen[c] = 0;
      osc.RemoteValue[c] = 0;
    }
  }
  if (!touched) return;

  // Exactly what a publishing copy does: own words in, word 0 formed again, all out.
  CopySharedIn();
  for (size_t c = 0; c < expired.size(); ++c) {
    if (osc.RemoteSeen[c] != 0) {
      // This copy keeps the remote value fresh: should it die, the value must stop counting.
      ClaimSharedWord(static_cast<int>(1 + c));
      player.SharedMirror[1 + c] = osc.RemoteValue[c];
    } else if (expired[c]) {
      player.SharedMirror[1 + c] = 0;
    }
  }
  uint32_t total = 0;
  for (int i = 1; i <= kOscChannels; ++i) total += static_cast<uint32_t>(player.SharedMirror[static_cast<size_t>(i)]);
  player.SharedMirror[0] = static_cast<int32_t>(total);
  CopySharedOut();
}

void ReceiveOsc() {
  if (osc.Listener.fd < 0) return;
  const int64_t now = OscClock();
  alignas(4) static std::array<uint8_t, kOscMaxPacket> buf;
  for (int i = 0; i < osc.PacketsPerCycle; ++i) {
    // MSG_TRUNC: the datagram's real length, so that an oversized one is seen and discarded whole.
    OscSender from;
    from.len = sizeof from.addr;
    const ssize_t n = ::recvfrom(osc.Listener.fd, buf.data(), buf.size(), MSG_DONTWAIT | MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&from.addr), &from.len);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;  // nothing more queued (or a transient error: the next cycle tries again)
    }
    if (static_cast<size_t>(n) > buf.size()) {
      ++osc.BadPackets;
      continue;
    }
    TakeOscPacket(buf.data(), static_cast<size_t>(n), now, &from);
  }
  PublishRemoteMotion(now);
}

size_t BuildOscBundle(void* buf, size_t capacity) {
  lo_bundle b = lo_bundle_new(LO_TT_IMMEDIATE);
  if (!b) return 0;
  const char* id = osc.Id.c_str();

  if (player.CameraOn != 0)
    AddMessage(b, "/orvante/motion", [&](lo_message m) {
      lo_message_add_string(m, id);
      lo_message_add_int32(m, player.CamChan);
      lo_message_add_int32(m, player.DifferenceSum);
      lo_message_add_int32(m, player.VR_threshold);
    });

  const int content = player.ContentNumber + 1;
  const int shown = CurrentFrame();
  if (content != osc.SentContent || shown != osc.SentFrame) {
    if (AddMessage(b, "/orvante/frame", [&](lo_message m) {
          lo_message_add_string(m, id);
          lo_message_add_int32(m, content);
          lo_message_add_float(m, static_cast<float>(player.frame_no));
        })) {
      osc.SentContent = content;
      osc.SentFrame = shown;
    }
  }

  const int g = recog.JudgedGesture;
  if (g >= 0) {
    // The result block holds the name from its second byte; never read past the block.
    const std::string name(recog.JudgedName + 1, strnlen(recog.JudgedName + 1, sizeof recog.JudgedName - 1));
    AddMessage(b, "/orvante/gesture", [&](lo_message m) {
      lo_message_add_string(m, id);
      lo_message_add_int32(m, g);
      lo_message_add_string(m, name.c_str());
      lo_message_add_int32(m, recog.PHASE);
      lo_message_add_int32(m, recog.SPEED);
      lo_message_add_int32(m, recog.ACCEL);
      lo_message_add_int32(m, recog.WIDTH);
      lo_message_add_int32(m, recog.JudgedLength);
    });
  }

  if (player.motion_count != osc.SentMotionCount) {
    if (AddMessage(b, "/orvante/count", [&](lo_message m) {
          lo_message_add_string(m, id);
          lo_message_add_int32(m, player.motion_count);
        }))
      osc.SentMotionCount = player.motion_count;
  }

  size_t len = 0;
  if (lo_bundle_count(b) > 0 && lo_bundle_length(b) <= capacity) lo_bundle_serialise(b, buf, &len);
  lo_bundle_free_recursive(b);
  return len;
}

void SendOsc() {
  if (recog.JudgedGesture >= 0 && recog.JudgedGesture < kGestures) {
    osc.LastGesture = recog.JudgedGesture;
    osc.LastPhase = recog.PHASE;
  }
  if (osc.Destinations.empty()) return;
  SendPeriodicState(OscClock());
  alignas(4) std::array<uint8_t, 2048> buf;
  const size_t n = BuildOscBundle(buf.data(), buf.size());
  if (n == 0) return;
  for (const auto& d : osc.Destinations) {
    // Never waits: a full buffer or an unreachable destination loses this bundle, not the cycle.
    const ssize_t r = ::sendto(d.socket.fd, buf.data(), n, MSG_DONTWAIT | MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&d.addr), d.addrLen);
    if (r == static_cast<ssize_t>(n))
      ++osc.BundlesSent;
    else
      ++osc.SendFailures;
  }
}

// --- remote operation: keys, thresholds, status ---

int RemoteKeyCode(const std::string& token) {
  // Exactly the tokens a headless key script takes: one parser, one meaning.
  std::deque<ScriptEvent> events;
  // One word: the parser would take "q 1 2" as the key q and leave the rest.
  if (token.empty() || std::any_of(token.begin(), token.end(), [](char c) { return c <= ' ' || c == 127; }) ||
      !ParseScript("1 " + token, &events, nullptr) || events.size() != 1)
    return -1;
  const int key = events.front().key;  // -1: a mouse event
  const Command* c = key >= 0 ? FindCommand(key) : nullptr;
  return c && (c->flags & kFromRemote) ? key : -1;
}

bool TakeRemoteCommand(OscCommand* c) {
  if (osc.QueueCount == 0) return false;
  *c = Dequeue(0);
  return true;
}

int TakeRemoteKey() {
  if (osc.QueueCount == 0 || osc.Queue[static_cast<size_t>(osc.QueueHead)].key == 0) return 0;
  return Dequeue(0).key;
}

bool TakeRemoteEsc() {
  for (int i = 0; i < osc.QueueCount; ++i) {
    if (osc.Queue[static_cast<size_t>((osc.QueueHead + i) % kOscQueueMax)].key != kKeyEsc) continue;
    Dequeue(i);
    return true;
  }
  return false;
}

void WaitForOsc(int ms) {
  if (ms <= 0) return;
  pollfd p{osc.Listener.fd, POLLIN, 0};
  ::poll(&p, osc.Listener.fd >= 0 ? 1 : 0, ms);  // without a listener: a plain sleep
}

size_t BuildStateMessage(void* buf, size_t capacity) {
  std::unique_ptr<void, MessageFree> m(lo_message_new());
  if (!m) return 0;
  lo_message msg = static_cast<lo_message>(m.get());
  const char* camera = player.CameraOn != 0 ? "on" : player.CameraWasLost != 0 ? "lost" : "off";
  const int64_t up = osc.StartUs > 0 ? (OscClock() - osc.StartUs) / 1000000 : 0;
  lo_message_add_string(msg, osc.Id.c_str());
  lo_message_add_int32(msg, player.PlayerMode);
  lo_message_add_string(msg, camera);
  lo_message_add_int32(msg, player.ContentNumber + 1);
  lo_message_add_float(msg, static_cast<float>(player.frame_no));
  lo_message_add_int32(msg, player.MaxCount);
  lo_message_add_int32(msg, player.VR_threshold);
  lo_message_add_int32(msg, player.DifferenceSum);
  lo_message_add_int32(msg, osc.LastGesture);
  lo_message_add_int32(msg, osc.LastPhase);
  lo_message_add_string(msg, TeachingStateText().c_str());
  lo_message_add_int32(msg, static_cast<int32_t>(std::min<int64_t>(up, INT32_MAX)));
  const char* path = "/orvante/state";
  size_t len = lo_message_length(msg, path);
  if (len == 0 || len > capacity) return 0;
  lo_message_serialise(msg, path, buf, &len);
  return len;
}

void SendPeriodicState(int64_t nowUs) {
  if (osc.ControlCount == 0 || osc.Destinations.empty()) return;
  if (osc.StateSentUs != 0 && nowUs - osc.StateSentUs < kOscStatePeriodUs) return;
  osc.StateSentUs = nowUs;
  alignas(4) std::array<uint8_t, 512> buf;
  const size_t n = BuildStateMessage(buf.data(), buf.size());
  if (n == 0) return;
  // A message of its own, not part of the cycle's bundle: plain messages are what the simplest
  // clients (Pd's own [oscparse]) can read.
  for (const auto& d : osc.Destinations) {
    const ssize_t r = ::sendto(d.socket.fd, buf.data(), n, MSG_DONTWAIT | MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&d.addr), d.addrLen);
    if (r != static_cast<ssize_t>(n)) ++osc.SendFailures;
  }
}

void PrintOscStatus() {
  if (osc.Listener.fd >= 0) std::printf("[OSC bad=%7ld ]", osc.BadPackets);
}

}  // namespace orv

// Open Sound Control: settings, per-cycle sending and receiving.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "control/osc_state.h"

namespace orv {

// Where a datagram came from: commands are checked against the "control" lines and status
// requests answered there.
struct OscSender {
  sockaddr_storage addr{};
  socklen_t len = 0;  // 0: unknown
};

// Reads osc.txt from the working directory and opens what it names. No file: nothing happens and
// nothing is printed. A bad line is reported and skipped; a host that does not resolve or a port
// that cannot be bound is one message, and the player runs on without OSC.
void OpenOsc();
void CloseOsc();  // closes every socket and forgets the settings

// Once per cycle, before the motion measure: reads what arrived (at most PacketsPerCycle
// datagrams), writes remote motion into the shared section and lets silent senders expire.
void ReceiveOsc();
// Once per cycle, after the stepping: one bundle with this cycle's messages to every destination.
void SendOsc();
// The bad-packet field of the MonitorMode 2 line; prints nothing unless a listener is open.
void PrintOscStatus();

// The parts of the above, for tests, benchmarks and the fuzzer.
int64_t OscClock();  // monotonic microseconds
// Decodes one datagram: keeps its /orvante/motion values as received at nowUs, queues its
// commands and answers its status requests. Returns false when the datagram is dropped as bad
// (and counted). from nullptr: a loopback sender that cannot be answered (tests, the fuzzer).
bool TakeOscPacket(const void* data, size_t size, int64_t nowUs, const OscSender* from = nullptr);
// Expires remote values older than 0.5 s at nowUs and writes the held ones into the section,
// forming the sum of word 0 again.
void PublishRemoteMotion(int64_t nowUs);
// Serialises this cycle's bundle into buf; returns its length, 0 when there is nothing to send.
// Updates what was last sent.
size_t BuildOscBundle(void* buf, size_t capacity);

// ---- remote operation ----
// Key code of a /orvante/key token (the headless script's tokens), -1 when the token is none
// the script takes or no command of the player.
int RemoteKeyCode(const std::string& token);
// Takes the oldest waiting remote command; false when none waits.
bool TakeRemoteCommand(OscCommand* c);
// Takes the oldest waiting remote ESC, leaving the other commands waiting in their order;
// false when none waits.
bool TakeRemoteEsc();
// Takes the oldest waiting command if it is a key: its key code; 0 when none waits or the oldest
// is a threshold command.
int TakeRemoteKey();
// Waits until a datagram arrives or ms milliseconds have passed.
void WaitForOsc(int ms);
// /orvante/state serialised into buf; its length, 0 when it does not fit.
size_t BuildStateMessage(void* buf, size_t capacity);
// Once a second while "control" lines exist: /orvante/state to every destination.
void SendPeriodicState(int64_t nowUs);

}  // namespace orv

// Open Sound Control: settings, per-cycle sending and receiving.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace orv {

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
// Decodes one datagram and keeps its /orvante/motion values as received at nowUs. Returns false
// when the datagram is dropped as bad (and counted).
bool TakeOscPacket(const void* data, size_t size, int64_t nowUs);
// Expires remote values older than 0.5 s at nowUs and writes the held ones into the section,
// forming the sum of word 0 again.
void PublishRemoteMotion(int64_t nowUs);
// Serialises this cycle's bundle into buf; returns its length, 0 when there is nothing to send.
// Updates what was last sent.
size_t BuildOscBundle(void* buf, size_t capacity);

}  // namespace orv

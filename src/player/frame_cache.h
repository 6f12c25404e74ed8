// Read-ahead frame cache: clean decodes of the frames the play head is heading to, filled by
// worker threads, beneath the one-image slot (FrameImages). The display step copies a cached
// frame into the slot instead of decoding it; marks, mirror and shifts are drawn into that copy
// only, so the cache never holds anything but the file's picture. Budget 0 turns it off: every
// frame is then decoded on the cycle, one image kept.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <opencv2/core.hpp>

namespace orv {

constexpr int kReadAheadMax = 160;      // frames asked for at most: ahead and behind together
constexpr size_t kFrameCacheMaxMB = 2048;  // the default budget's ceiling, MB

struct FrameRequest {
  int frame = -1;    // frame number in the current content
  std::string path;  // its file (a copy: the workers never read the frame table)
};

struct FrameCacheEntry {
  cv::Mat image;                  // clean decode; never written once stored
  std::list<int>::iterator use;   // its place in FrameCacheState::Recent
};

struct InFlightDecode {
  int clock = -1;         // processor-time clock of the worker decoding it (platform.h)
  int64_t cpuStart = 0;   // that clock when the decode began, microseconds
};

struct FrameCacheState {
  // ---- shared with the workers (under Lock) ---------------------------------------
  size_t BudgetBytes = 0;    // decoded pixels the cache may hold, bytes; 0 = off
  size_t HeldBytes = 0;      // bytes of the images held now, 0..BudgetBytes - ReservedBytes
  size_t ReservedBytes = 0;  // bytes set aside for the decodes the workers run now
  size_t FrameBytes = 0;     // largest frame decoded in this content, bytes; 0 = none yet
  std::unordered_map<int, FrameCacheEntry> Entries;  // frame number -> its clean decode
  std::list<int> Recent;                 // cached frame numbers, most recently used first
  std::vector<FrameRequest> Wanted;      // frames to read ahead, most urgent first
  std::unordered_set<int> WantedSet;     // the frame numbers of Wanted (kept from eviction)
  std::unordered_map<int, InFlightDecode> InFlight;  // frames a worker decodes now
  std::unordered_set<int> Failed;        // frames a worker could not decode (not tried again)
  int64_t DecodeMicros = 0;  // a worker's usual processor time for one decode of this content, µs; 0 = not known yet
  int CycleFrame = -1;       // frame the cycle decodes itself after a miss (workers leave it); -1 none
  unsigned Generation = 0;   // raised by a content or size change: decodes begun before it are dropped
  int Reduction = 1;         // decode reduction of every held frame and of the workers' decodes: 1, 2 or 4
  bool Stop = false;         // true: workers end after the decode they run
  std::mutex Lock;
  std::condition_variable Work;  // workers wait here for a frame to decode
  std::condition_variable Done;  // the cycle waits here for a frame a worker is decoding
  long Hits = 0;             // frames the cycle took from the cache
  long Misses = 0;           // frames the cycle decoded itself
  long WorkerDecodes = 0;    // frames the workers decoded and stored

  // ---- main thread only -------------------------------------------------------------
  std::vector<std::thread> Workers;  // decoding threads; empty while the cache is off
  long PlanKey[7] = {};              // what the last read-ahead plan was made from
};
extern FrameCacheState frameCache;

// The cache decodes at one reduction (1, 2 or 4: the size the window shows, frame_decode.h);
// another one drops every held frame first, as a content change does.
void SetFrameCacheReduction(int reduction);

// Budget from ORVANTE_FRAME_CACHE_MB's text: empty = the default (a quarter of the physical
// memory, at most kFrameCacheMaxMB); otherwise megabytes 0..physical memory. False (with
// *bytes 0) for anything else.
bool FrameCacheBudget(const std::string& text, size_t* bytes);
// Starts `workers` decoding threads with the budget (0 = off: nothing starts). Large blocks are
// then given back to the system when freed, so a dropped frame leaves the resident set.
void StartFrameCache(size_t budgetBytes, int workers);
// Stops the workers (each ends after the decode it runs) and drops every cached frame.
void StopFrameCache();
// A new content: drops every cached frame; decodes under way are thrown away when they end.
void ClearFrameCache();

// Copies frame i into *slot when it is cached, or when the worker decoding it finishes sooner
// than the cycle could decode it (judged by the worker's pace while the cycle waits). False: the
// cycle must decode it itself.
bool TakeCachedFrame(int i, cv::Mat* slot);
// Keeps a clean copy of frame i, decoded by the cycle, making room by dropping the least
// recently used frames; a frame larger than the budget is not kept.
void KeepDecodedFrame(int i, const cv::Mat& img);
// Tells the workers which frames the motion is heading to: ahead in Direction at VR_step, a
// part behind for a change of direction, and the key frames the idle action and the key-frame
// step jump to. Once per cycle, on the main thread; cheap when nothing changed.
void PlanReadAhead();

}  // namespace orv

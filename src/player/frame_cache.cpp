// Read-ahead frame cache: the workers, the budget and the plan of what to read ahead.
#include "player/frame_cache.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <exception>

#include <opencv2/imgcodecs.hpp>

#include "common/platform.h"
#include "player/player_state.h"
#include "player/frame_decode.h"
#include "player/player.h"

namespace orv {

FrameCacheState frameCache;

namespace {

constexpr size_t kMB = size_t{1} << 20;
// Blocks from this size up come straight from the system and go back to it when freed, so a
// dropped 4K frame (25 MB) leaves the resident set instead of a hole in the heap.
constexpr int kMmapThreshold = 1 << 20;

size_t PhysicalBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && size > 0 ? static_cast<size_t>(pages) * static_cast<size_t>(size) : 0;
}

size_t ImageBytes(const cv::Mat& m) { return m.total() * m.elemSize(); }

void Drop(int frame) {
  auto it = frameCache.Entries.find(frame);
  frameCache.HeldBytes -= ImageBytes(it->second.image);
  frameCache.Recent.erase(it->second.use);
  frameCache.Entries.erase(it);
}

// Under Lock: drops least recently used frames until `bytes` more fit beside what is held and
// reserved. Frames still wanted by the plan are dropped only when `wantedToo`.
bool MakeRoom(size_t bytes, bool wantedToo) {
  FrameCacheState& c = frameCache;
  if (bytes > c.BudgetBytes) return false;
  while (c.HeldBytes + c.ReservedBytes + bytes > c.BudgetBytes) {
    int victim = -1;
    for (auto it = c.Recent.rbegin(); it != c.Recent.rend() && victim < 0; ++it)
      if (!c.WantedSet.count(*it)) victim = *it;
    if (victim < 0 && wantedToo && !c.Recent.empty()) victim = c.Recent.back();
    if (victim < 0) return false;
    Drop(victim);
  }
  return true;
}

// Under Lock: stores a clean image as the most recently used (room already made).
void Store(int frame, cv::Mat img) {
  FrameCacheState& c = frameCache;
  c.HeldBytes += ImageBytes(img);
  c.Recent.push_front(frame);
  c.Entries[frame] = FrameCacheEntry{std::move(img), c.Recent.begin()};
}

// Under Lock: the most urgent wanted frame nobody has or decodes, with room reserved for it.
const FrameRequest* NextRequest() {
  FrameCacheState& c = frameCache;
  if (c.FrameBytes == 0) return nullptr;
  for (const FrameRequest& r : c.Wanted) {
    if (c.Entries.count(r.frame) || c.InFlight.count(r.frame) || c.Failed.count(r.frame) ||
        r.frame == c.CycleFrame)
      continue;
    return MakeRoom(c.FrameBytes, false) ? &r : nullptr;
  }
  return nullptr;
}

void Worker() {
  FrameCacheState& c = frameCache;
  // Reading ahead uses spare processor time only: a worker that took it from the cycle's thread
  // would slow the very cycles it is there to speed up (the cycle never waits on a worker that
  // does not get on, TakeCachedFrame).
  MakeBackgroundThread("orv-decode");
  const int clock = OwnThreadCpuClock();
  std::unique_lock<std::mutex> lock(c.Lock);
  for (;;) {
    const FrameRequest* next = nullptr;
    c.Work.wait(lock, [&] { return c.Stop || (next = NextRequest()) != nullptr; });
    if (c.Stop) return;
    const FrameRequest job = *next;
    const unsigned generation = c.Generation;
    const int reduction = c.Reduction;
    const size_t reserved = c.FrameBytes;
    c.ReservedBytes += reserved;
    const int64_t cpuStart = ThreadCpuMicros(clock);
    c.InFlight[job.frame] = InFlightDecode{clock, cpuStart};
    lock.unlock();
    cv::Mat img = DecodeFrame(job.path.c_str(), reduction);
    const int64_t cpu = ThreadCpuMicros(clock) - cpuStart;
    lock.lock();
    c.ReservedBytes -= reserved;
    c.InFlight.erase(job.frame);
    if (generation == c.Generation) {
      if (img.empty()) {
        c.Failed.insert(job.frame);
      } else {
        // Processor time, not wall time: what a decode costs whatever else the machine runs.
        if (cpuStart >= 0 && cpu > 0) c.DecodeMicros = c.DecodeMicros > 0 ? (3 * c.DecodeMicros + cpu) / 4 : cpu;
        c.FrameBytes = std::max(c.FrameBytes, ImageBytes(img));
        if (!c.Entries.count(job.frame) && MakeRoom(ImageBytes(img), false)) {
          Store(job.frame, std::move(img));
          ++c.WorkerDecodes;
        }
      }
    }
    c.Done.notify_all();
  }
}

void StopAtExit() { StopFrameCache(); }

// Under Lock: every frame and the plan dropped; decodes under way are thrown away when they end.
void DropEverything() {
  FrameCacheState& c = frameCache;
  ++c.Generation;
  c.Entries.clear();
  c.Recent.clear();
  c.HeldBytes = 0;
  c.FrameBytes = 0;
  c.Wanted.clear();
  c.WantedSet.clear();
  c.Failed.clear();
  c.CycleFrame = -1;
  c.DecodeMicros = 0;
  std::fill(std::begin(c.PlanKey), std::end(c.PlanKey), 0L);
}

// Frame at position x of the content, following the stepping's wrap rule.
int FrameAt(double x) {
  const double n = player.MaxCount;
  if (player.WrapFlag) {
    x = std::fmod(x, n);
    if (x < 0.0) x += n;
  } else {
    x = std::clamp(x, 0.0, n - 1.0);
  }
  return std::clamp(static_cast<int>(x), 0, player.MaxCount - 1);
}

}  // namespace

bool FrameCacheBudget(const std::string& text, size_t* bytes) {
  *bytes = 0;
  const size_t physical = PhysicalBytes();
  if (text.empty()) {
    *bytes = std::min(physical / 4, kFrameCacheMaxMB * kMB);
    return true;
  }
  if (text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9) return false;
  const size_t mb = std::strtoull(text.c_str(), nullptr, 10);
  if (mb * kMB > physical) return false;
  *bytes = mb * kMB;
  return true;
}

void StartFrameCache(size_t budgetBytes, int workers) {
  StopFrameCache();
  if (budgetBytes == 0 || workers < 1) return;
  static bool stopRegistered = false;
  if (!stopRegistered) std::atexit(StopAtExit);  // no worker outlives main's return or exit()
  stopRegistered = true;
  ::mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
  {
    std::lock_guard<std::mutex> lock(frameCache.Lock);
    frameCache.BudgetBytes = budgetBytes;
  }
  for (int i = 0; i < workers; ++i) frameCache.Workers.emplace_back(Worker);
}

void StopFrameCache() {
  FrameCacheState& c = frameCache;
  {
    std::lock_guard<std::mutex> lock(c.Lock);
    c.Stop = true;
  }
  c.Work.notify_all();
  for (std::thread& t : c.Workers) t.join();
  c.Workers.clear();
  std::lock_guard<std::mutex> lock(c.Lock);
  c.Stop = false;
  c.BudgetBytes = 0;
  c.Hits = c.Misses = c.WorkerDecodes = 0;
  DropEverything();
}

void ClearFrameCache() {
  std::lock_guard<std::mutex> lock(frameCache.Lock);
  DropEverything();
}

void SetFrameCacheReduction(int reduction) {
  std::lock_guard<std::mutex> lock(frameCache.Lock);
  if (reduction == frameCache.Reduction) return;
  DropEverything();  // held frames and decodes under way are of the old size
  frameCache.Reduction = reduction;
  // The workers may start at once: a reduced JPEG decode rounds each side up.
  const cv::Size full = player.FullFrameSize;
  if (full.width > 0 && full.height > 0)
    frameCache.FrameBytes = size_t{3} * static_cast<size_t>((full.width + reduction - 1) / reduction) *
                            static_cast<size_t>((full.height + reduction - 1) / reduction);
}

bool TakeCachedFrame(int i, cv::Mat* slot) {
  FrameCacheState& c = frameCache;
  cv::Mat cached;
  {
    std::unique_lock<std::mutex> lock(c.Lock);
    if (c.BudgetBytes == 0) return false;
    // A worker decoding the frame is waited for only while it will be done before a decode of
    // the cycle's own would be: at the pace it has kept since the wait began, what is left of a
    // decode (its usual processor time less what the worker has spent) must take at most one
    // decode. A worker that the scheduler holds back (the machine is busy, and the workers
    // yield to everything) is left after a millisecond, and the cycle decodes the frame itself.
    const auto since = std::chrono::steady_clock::now();
    int64_t first = -1;
    for (auto f = c.InFlight.find(i); f != c.InFlight.end() && c.DecodeMicros > 0; f = c.InFlight.find(i)) {
      const int64_t worked = ThreadCpuMicros(f->second.clock) - f->second.cpuStart;
      if (f->second.cpuStart < 0 || worked < 0) break;
      if (first < 0) {
        first = worked;
      } else {
        const double waited = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - since).count();
        const double pace = static_cast<double>(worked - first) / std::max(waited, 1.0);
        const double left = std::max(c.DecodeMicros - worked, c.DecodeMicros / 4);
        if (pace * static_cast<double>(c.DecodeMicros) < static_cast<double>(left)) break;
      }
      c.Done.wait_for(lock, std::chrono::milliseconds(1));
    }
    auto it = c.Entries.find(i);
    if (it == c.Entries.end()) {
      ++c.Misses;
      c.CycleFrame = i;  // until the cycle's next call: no worker decodes it a second time
      return false;
    }
    c.CycleFrame = -1;
    c.Recent.splice(c.Recent.begin(), c.Recent, it->second.use);
    cached = it->second.image;
    ++c.Hits;
  }
  *slot = cached.clone();  // what the cycle draws on is a copy: the cache stays clean
  return true;
}

void KeepDecodedFrame(int i, const cv::Mat& img) {
  FrameCacheState& c = frameCache;
  const size_t bytes = ImageBytes(img);
  {
    std::lock_guard<std::mutex> lock(c.Lock);
    if (c.BudgetBytes == 0) return;
    c.CycleFrame = -1;
    c.FrameBytes = std::max(c.FrameBytes, bytes);
    if (bytes > c.BudgetBytes || c.Entries.count(i)) return;
  }
  cv::Mat copy = img.clone();
  {
    std::lock_guard<std::mutex> lock(c.Lock);
    if (!c.Entries.count(i) && MakeRoom(bytes, true)) Store(i, std::move(copy));
  }
  c.Work.notify_all();  // the frame size is known now: the workers can plan their room
}

void PlanReadAhead() {
  FrameCacheState& c = frameCache;
  if (c.Workers.empty()) return;
  // The window shows its size only once it has shown a picture, and the operator may resize
  // it: the workers decode at the size shown now, not at the next frame change.
  if (player.FullFrameSize.width > 0) SetFrameCacheReduction(ShownReduction());
  const int f = CurrentFrame();
  if (f < 0) return;
  size_t frameBytes = 0, budget = 0;
  unsigned generation = 0;
  {
    std::lock_guard<std::mutex> lock(c.Lock);
    frameBytes = c.FrameBytes;
    budget = c.BudgetBytes;
    generation = c.Generation;
  }
  if (frameBytes == 0) return;
  const long key[7] = {f + 1L,
                       player.Direction + 2L * player.AutoPlayDirection + 8L * player.PlayState,
                       std::bit_cast<long>(player.VR_step),
                       player.KeyFrameIndex * 8L + player.KeyFrameMode,
                       static_cast<long>(frameBytes),
                       static_cast<long>(generation),
                       player.MaxCount * 2L + player.WrapFlag};
  if (std::equal(std::begin(key), std::end(key), std::begin(c.PlanKey))) return;
  std::copy(std::begin(key), std::end(key), std::begin(c.PlanKey));

  // Room for this many frames besides the decodes under way; a quarter of it behind.
  const long room = static_cast<long>(budget / frameBytes) - static_cast<long>(c.Workers.size());
  const int n = static_cast<int>(std::clamp(room, 0L, static_cast<long>(kReadAheadMax)));
  const int behind = n / 4, ahead = n - behind;

  std::vector<FrameRequest> wanted;
  std::unordered_set<int> seen;
  auto add = [&](int frame) {
    if (static_cast<int>(wanted.size()) >= std::max(n, 1) || frame < 0 || frame >= player.MaxCount) return;
    const char* path = FrameData[static_cast<size_t>(frame)].path;
    if (path[0] != '\0' && seen.insert(frame).second) wanted.push_back({frame, path});
  };
  // Key-frame positions come from the parameter file: bounded before the cast.
  auto addKey = [&](double v) {
    if (v >= 0.0 && v < static_cast<double>(player.MaxCount)) add(static_cast<int>(v));
  };
  const double step = player.VR_step >= 1.0 && player.VR_step < player.MaxCount ? player.VR_step : 1.0;
  // Continuous play (state 5) runs in AutoPlayDirection, every other state in Direction.
  const int forward = player.PlayState == 5 ? player.AutoPlayDirection : player.Direction;
  const double dir = forward == 0 ? -1.0 : 1.0;
  const double x = player.frame_no;
  add(f);  // the frame on screen stays: a reversal comes back to it first
  int a = 1, b = 1;
  for (; a <= std::min(4, ahead); ++a) add(FrameAt(x + dir * step * a));

  // Where the idle action and the key-frame step jump to.
  double sum = 0.0;
  for (double k : player.KeyFrameNumber) sum += k;
  if (sum > 0.0) {
    const int m = player.KeyFrameMode, idx = std::clamp(player.KeyFrameIndex, 0, kKeyFrames - 1);
    addKey(player.KeyFrameNumber[static_cast<size_t>(idx)]);
    const int onward = m == 4 ? 10 : 1;
    for (int k = 1, found = 0; k < kKeyFrames && found < onward; ++k) {
      const double v = player.KeyFrameNumber[static_cast<size_t>((idx + k) % kKeyFrames)];
      if (v <= 0.0) continue;
      ++found;
      addKey(v);
    }
    for (int k = 1; m == 3 && k < kKeyFrames; ++k) {
      const double v = player.KeyFrameNumber[static_cast<size_t>((idx - k + kKeyFrames) % kKeyFrames)];
      if (v > 0.0) {
        addKey(v);
        break;
      }
    }
  }
  while (a <= ahead || b <= behind) {
    for (int k = 0; k < 3 && a <= ahead; ++k, ++a) add(FrameAt(x + dir * step * a));
    if (b <= behind) add(FrameAt(x - dir * step * b++));
  }

  {
    std::lock_guard<std::mutex> lock(c.Lock);
    c.WantedSet = std::move(seen);
    c.Wanted = std::move(wanted);
  }
  c.Work.notify_all();
}

}  // namespace orv

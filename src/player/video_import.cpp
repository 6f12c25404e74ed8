// Pictures and videos made into numbered frames of a content (orvante-init). Nothing is half
// done: every frame of the run is written into a staging folder beside the content and moved
// into place only once every source has been read, with the stop signals held during the moves.
#include <fcntl.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "common/display.h"
#include "common/limits.h"
#include "common/platform.h"
#include "player/player.h"

namespace fs = std::filesystem;

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr double kQuietProgressSeconds = 5.0;     // a progress line this often when not on a terminal
constexpr double kTerminalProgressSeconds = 0.25;  // the line in place is redrawn this often
constexpr double kMaxAnnouncedFrames = 1e9;        // a container's frame count beyond this is not believed
constexpr double kMaxAnnouncedFps = 1000;          // nor a frame rate beyond this
// A container's frame count is an estimate (duration times rate for some formats): a stream
// counts as cut short only when it ends more than this many frames, or this share, early.
constexpr double kShortStreamFrames = 2, kShortStreamShare = 0.01;

volatile std::sig_atomic_t stopAsked = 0;  // set by SIGINT, SIGTERM, SIGHUP while an import runs
void OnStopSignal(int) { stopAsked = 1; }

// The stop signals only ask the import to stop while it runs; the old handlers come back after.
struct StopSignalGuard {
  struct sigaction old[3];
  StopSignalGuard() {
    stopAsked = 0;
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &sa, &old[i]);
  }
  ~StopSignalGuard() {
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &old[i], nullptr);
  }
  StopSignalGuard(const StopSignalGuard&) = delete;
  StopSignalGuard& operator=(const StopSignalGuard&) = delete;
};

// Holds the stop signals while frames are moved into place; a signal that arrives meanwhile
// is delivered when the moves are done.
struct SignalBlock {
  sigset_t old;
  SignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kStopSignals) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old);
  }
  ~SignalBlock() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;
};

bool IsJpegFile(const std::string& name) {
  unsigned char head[3] = {};
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) return false;
  const size_t n = std::fread(head, 1, 3, f);
  std::fclose(f);
  return n == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

// The container's orientation (degrees counter-clockwise, as the FFmpeg tools show it) as a
// quarter turn 0, 90, 180 or 270.
int QuarterTurn(double degrees) {
  if (!std::isfinite(degrees)) return 0;
  const long q = std::lround(degrees / 90.0) % 4;
  return static_cast<int>((q + 4) % 4) * 90;
}

cv::Mat Upright(const cv::Mat& frame, int rotation) {
  if (rotation == 0) return frame;
  cv::Mat out;
  cv::rotate(frame, out,
             rotation == 90    ? cv::ROTATE_90_COUNTERCLOCKWISE
             : rotation == 180 ? cv::ROTATE_180
                               : cv::ROTATE_90_CLOCKWISE);
  return out;
}

cv::Mat Scaled(const cv::Mat& frame, int height) {
  if (height <= 0 || height == frame.rows) return frame;
  const int width = std::max(1, static_cast<int>(std::lround(static_cast<double>(frame.cols) * height / frame.rows)));
  cv::Mat out;
  cv::resize(frame, out, {width, height}, 0, 0, height < frame.rows ? cv::INTER_AREA : cv::INTER_CUBIC);
  return out;
}

bool WriteJpeg(const cv::Mat& image, const std::string& path, int quality, std::string* why) {
  std::vector<uchar> bytes;
  if (!cv::imencode(".jpg", image, bytes, {cv::IMWRITE_JPEG_QUALITY, quality})) {
    *why = "cannot encode a frame as JPEG";
    return false;
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    *why = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  int err = errno;
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) *why = "cannot write " + path + ": " + std::strerror(err);
  return ok;
}

std::string StagedName(const fs::path& staging, int n) {
  char name[32];
  std::snprintf(name, sizeof name, "%08d.jpg", n);
  return (staging / name).string();
}

std::string ClipName(int n) {
  char name[32];
  std::snprintf(name, sizeof name, "clip_%5d.jpg", n);
  return ZeroFill(name);
}

uintmax_t SizeOf(const std::string& path) {
  std::error_code ec;
  const uintmax_t n = fs::file_size(path, ec);
  return ec ? 0 : n;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// What a run has staged so far.
struct Staging {
  fs::path folder;       // the staging folder beside the content
  int room = 0;          // frames the content can still take, 0..kMaxFrames
  int staged = 0;        // frames written into the staging folder, 0..room
  uintmax_t bytes = 0;   // their size on disk
  std::string why;       // the reason the run stops, empty while it goes on
};

bool StageNext(Staging& st, const cv::Mat* image, const std::string& copyFrom, int quality) {
  if (stopAsked) {
    st.why = "interrupted";
    return false;
  }
  if (st.staged >= st.room) {
    st.why = "more frames than a content holds (" + std::to_string(kMaxFrames) + ")";
    return false;
  }
  const std::string to = StagedName(st.folder, st.staged);
  bool ok;
  if (image) {
    ok = WriteJpeg(*image, to, quality, &st.why);
  } else {
    std::string err;
    ok = CopyFile(copyFrom, to, &err);
    if (!ok) st.why = "cannot copy " + copyFrom + ": " + err;
  }
  if (!ok) return false;
  ++st.staged;
  st.bytes += SizeOf(to);
  return true;
}

bool StagePicture(Staging& st, const ImportSource& s, const ImportOptions& o) {
  if (s.jpeg && (o.height == 0 || o.height == s.height)) return StageNext(st, nullptr, s.name, o.quality);
  cv::Mat picture = cv::imread(s.name, cv::IMREAD_COLOR);
  if (picture.empty()) {
    st.why = "cannot read the picture " + s.name;
    return false;
  }
  picture = Scaled(picture, o.height);
  return StageNext(st, &picture, "", o.quality);
}

// One progress line: in place on a terminal, every few seconds otherwise.
struct Progress {
  std::string name;              // the video
  double expected = 0;           // frames it is expected to give (an estimate), >= 0
  Clock::time_point start;       // when its decoding began
  double lastShown = -1e9;       // seconds after start when the line was last shown
  bool terminal = false;         // standard output is a terminal
  bool shownInPlace = false;     // a line in place is on the screen and needs its line end
};

void ShowProgress(Progress& p, int written) {
  const double elapsed = Seconds(p.start);
  const double every = p.terminal ? kTerminalProgressSeconds : kQuietProgressSeconds;
  if (elapsed - p.lastShown < every) return;
  p.lastShown = elapsed;
  const double share = p.expected > 0 ? std::min(0.99, written / p.expected) : 0;
  char left[48] = "?";
  if (share > 0) std::snprintf(left, sizeof left, "%.0f s", elapsed * (1 - share) / share);
  std::printf("%s%s: %d of about %.0f frames  %3.0f %%  %.0f s elapsed, %s left%s", p.terminal ? "\r" : "",
              p.name.c_str(), written, p.expected, 100 * share, elapsed, left, p.terminal ? "   " : "\n");
  p.shownInPlace = p.terminal;
  std::fflush(stdout);
}

bool DecodeVideo(Staging& st, const ImportSource& s, const ImportOptions& o, Progress& p) {
  cv::VideoCapture cap;
  try {
    cap.open(s.name, cv::CAP_FFMPEG);
  } catch (const cv::Exception&) {
  }
  if (!cap.isOpened()) {
    st.why = "cannot open the video " + s.name;
    return false;
  }
  cap.set(cv::CAP_PROP_ORIENTATION_AUTO, 0);  // its own turn goes the wrong way: turned here
  const int first = st.staged;
  const uintmax_t firstBytes = st.bytes;
  int decoded = 0, inRange = 0;
  double lastTime = 0;  // video time of the last decoded frame, seconds
  bool cutByTo = false;
  double nextKeep = o.from;  // video time of the next frame that --fps keeps
  try {
    while (true) {
      if (stopAsked) {
        st.why = "interrupted";
        return false;
      }
      if (!cap.grab()) break;
      ++decoded;
      double t = cap.get(cv::CAP_PROP_POS_MSEC) / 1000.0;
      if (!std::isfinite(t) || t < 0) t = s.fps > 0 ? (decoded - 1) / s.fps : 0;
      lastTime = t;
      if (t < o.from - 1e-6) continue;
      if (o.to >= 0 && t >= o.to - 1e-6) {
        cutByTo = true;
        break;
      }
      ++inRange;
      bool keep = (inRange - 1) % o.every == 0;
      if (o.fps > 0) {
        keep = t >= nextKeep - 1e-6;
        while (nextKeep <= t + 1e-6) nextKeep += 1.0 / o.fps;
      }
      if (!keep) continue;
      cv::Mat frame;
      if (!cap.retrieve(frame) || frame.empty()) {
        st.why = "read error in " + s.name + " at frame " + std::to_string(decoded);
        return false;
      }
      frame = Scaled(Upright(frame, s.rotation), o.height);
      if (!StageNext(st, &frame, "", o.quality)) return false;
      ShowProgress(p, st.staged - first);
    }
  } catch (const cv::Exception& e) {
    st.why = "read error in " + s.name + ": " + e.what();
    return false;
  }
  // A stream that ends well before the frames its container announces was cut short, and its
  // last decoded frame is often only partly there: refused rather than made into a broken clip.
  if (!cutByTo && decoded + std::max(kShortStreamFrames, s.frames * kShortStreamShare) < s.frames) {
    char to[64] = "";
    if (decoded > 1) std::snprintf(to, sizeof to, " (--to %.3f imports what comes before)", lastTime);
    st.why = s.name + " announces " + std::to_string(static_cast<long>(s.frames)) + " frames but its stream ends after " +
             std::to_string(decoded) + ": the file is cut short or damaged" + to;
    return false;
  }
  if (p.shownInPlace) std::printf("\n");
  p.shownInPlace = false;
  std::printf("%s: %d frames written (%d decoded), %.1f MB, %.1f s\n", s.name.c_str(), st.staged - first, decoded,
              static_cast<double>(st.bytes - firstBytes) / 1e6, Seconds(p.start));
  return true;
}

bool StageVideo(Staging& st, const ImportSource& s, const ImportOptions& o) {
  Progress p;
  p.name = s.name;
  p.expected = EstimateKeptFrames(s, o);
  p.start = Clock::now();
  p.terminal = ConsoleIsTerminal();
  const bool ok = DecodeVideo(st, s, o, p);
  if (p.shownInPlace) std::printf("\n");  // the reason follows on a line of its own
  return ok;
}

// Planned names first, then the moves with the stop signals held; a move that fails puts back
// what was moved, so the content stays as it was.
bool MoveIntoPlace(Staging& st, const fs::path& content, int* firstClip, int* lastClip) {
  std::vector<std::string> targets;
  for (int c = 0; static_cast<int>(targets.size()) < st.staged; ++c) {
    const std::string to = (content / ClipName(c)).string();
    if (FileExists(to)) continue;  // existing clips are never overwritten
    if (c > kLastScannedNumber) {
      st.why = "no free clip number up to " + std::to_string(kLastScannedNumber) + " left in " + content.string();
      return false;
    }
    if (targets.empty()) *firstClip = c;
    *lastClip = c;
    targets.push_back(to);
  }
  SignalBlock block;
  size_t moved = 0;
  for (; moved < targets.size(); ++moved) {
    const std::string from = StagedName(st.folder, static_cast<int>(moved));
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, targets[moved].c_str(), RENAME_NOREPLACE) == 0) continue;
    if (errno == EINVAL && !FileExists(targets[moved]) && std::rename(from.c_str(), targets[moved].c_str()) == 0)
      continue;  // a file system without the no-replace rename
    st.why = "cannot move a frame to " + targets[moved] + ": " + std::strerror(errno);
    break;
  }
  if (moved == targets.size()) return true;
  while (moved-- > 0) std::rename(targets[moved].c_str(), StagedName(st.folder, static_cast<int>(moved)).c_str());
  return false;
}

void NoteLargerThanScreen(const ImportSource& s, const ImportOptions& o) {
  int sw = 0, sh = 0;
  if (!s.video || !ScreenSize(&sw, &sh)) return;
  const int h = o.height > 0 ? o.height : s.height;
  const int w = static_cast<int>(std::lround(static_cast<double>(s.width) * h / s.height));
  if (w <= sw && h <= sh) return;
  const int fit = std::min(sh, static_cast<int>(static_cast<double>(sw) * s.height / s.width));
  std::printf("note:    %s gives %dx%d frames, larger than the screen (%dx%d): --height %d fits it.\n",
              s.name.c_str(), w, h, sw, sh, fit);
}

}  // namespace

bool ProbeImportSource(const std::string& name, ImportSource* source, std::string* why) {
  ImportSource& s = *source;
  s = ImportSource{};
  s.name = name;
  std::error_code ec;
  if (!fs::is_regular_file(name, ec) || !FileReadable(name)) {
    *why = fs::exists(name, ec) ? "not a file that can be read" : "no such file";
    return false;
  }
  cv::Mat picture;
  try {
    picture = cv::imread(name, cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
  }
  if (!picture.empty()) {
    s.jpeg = IsJpegFile(name);
    s.width = picture.cols;
    s.height = picture.rows;
    return true;
  }
  cv::VideoCapture cap;
  cv::Mat frame;
  try {
    if (cap.open(name, cv::CAP_FFMPEG)) {
      cap.set(cv::CAP_PROP_ORIENTATION_AUTO, 0);
      cap.read(frame);
    }
  } catch (const cv::Exception&) {
    frame.release();
  }
  if (frame.empty()) {
    *why = "neither a picture nor a video that can be read";
    return false;
  }
  s.video = true;
  s.rotation = QuarterTurn(cap.get(cv::CAP_PROP_ORIENTATION_META));
  const bool across = s.rotation % 180 != 0;
  s.width = across ? frame.rows : frame.cols;
  s.height = across ? frame.cols : frame.rows;
  const double fps = cap.get(cv::CAP_PROP_FPS), frames = cap.get(cv::CAP_PROP_FRAME_COUNT);
  s.fps = fps > 0 && fps <= kMaxAnnouncedFps ? fps : 0;
  s.frames = frames > 0 && frames <= kMaxAnnouncedFrames ? std::floor(frames) : 0;
  return true;
}

double EstimateKeptFrames(const ImportSource& s, const ImportOptions& o) {
  if (!s.video) return 1;
  double inRange = s.frames;
  double span = 0;
  if (s.fps > 0) {
    const double duration = s.frames / s.fps;
    const double end = o.to >= 0 ? std::min(o.to, duration) : duration;
    span = std::max(0.0, end - o.from);
    inRange = std::round(span * s.fps);
  }
  if (o.fps > 0 && s.fps > 0) return std::min(inRange, std::ceil(span * o.fps));
  return std::ceil(inRange / std::max(1, o.every));
}

void RemoveLeftoverStaging(const std::string& content) {
  const fs::path staging = content + ".staging";
  std::error_code ec;
  if (!fs::is_directory(staging, ec)) return;
  fs::remove_all(staging, ec);
  std::printf("removed: %s  (left by an import that did not finish)\n", staging.c_str());
}

bool ImportToContent(const std::vector<ImportSource>& sources, const std::string& content,
                     const ImportOptions& o, int* added) {
  *added = 0;
  const int existing = CountContentFrames(content);
  Staging st;
  st.room = kMaxFrames - existing;
  double expected = 0, videoFrames = 0, pictures = 0;
  for (const ImportSource& s : sources) {
    expected += EstimateKeptFrames(s, o);
    if (s.video) videoFrames += EstimateKeptFrames(s, ImportOptions{1, 0, 0, o.from, o.to, o.quality});
    else pictures += 1;
  }
  if (expected > st.room) {
    std::fprintf(stderr, "ERROR: about %.0f frames to add, but %s holds %d of the %d a content can hold; ", expected,
                 content.c_str(), existing, kMaxFrames);
    if (st.room - pictures >= 1)
      std::fprintf(stderr, "--every %.0f fits%s.\n", std::ceil(videoFrames / (st.room - pictures)),
                   o.fps > 0 ? " (instead of --fps)" : "");
    else
      std::fprintf(stderr, "no --every fits.\n");
    return false;
  }
  for (const ImportSource& s : sources) NoteLargerThanScreen(s, o);

  st.folder = content + ".staging";
  const fs::path contentPath = content;
  std::error_code ec;
  const fs::path parent = contentPath.parent_path();
  const bool parentExisted = parent.empty() || fs::exists(parent, ec);
  const bool contentExisted = fs::exists(contentPath, ec);
  const Clock::time_point start = Clock::now();
  int firstClip = 0, lastClip = 0;
  bool ok;
  {
    StopSignalGuard guard;
    ok = fs::create_directories(st.folder, ec) && !ec;
    if (!ok) st.why = "cannot create " + st.folder.string() + ": " + ec.message();
    for (size_t i = 0; ok && i < sources.size(); ++i)
      ok = sources[i].video ? StageVideo(st, sources[i], o) : StagePicture(st, sources[i], o);
    if (ok && stopAsked) {
      st.why = "interrupted";
      ok = false;
    }
    if (ok && !fs::is_directory(contentPath, ec) && !fs::create_directories(contentPath, ec)) {
      st.why = "cannot create " + content + ": " + ec.message();
      ok = false;
    }
    if (ok) ok = MoveIntoPlace(st, contentPath, &firstClip, &lastClip);
    fs::remove_all(st.folder, ec);
    if (!ok && !contentExisted) fs::remove(contentPath, ec);  // only when empty
    if (!ok && !parentExisted) fs::remove(parent, ec);
  }
  if (!ok) {
    std::fflush(stdout);
    std::fprintf(stderr, "ERROR: %s; %s is as it was.\n", st.why.c_str(), content.c_str());
    return false;
  }
  *added = st.staged;
  if (st.staged > 0)
    std::printf("added:   %d frames to %s as %s ... %s, %.1f MB, %.1f s\n", st.staged, content.c_str(),
                ClipName(firstClip).c_str(), ClipName(lastClip).c_str(), static_cast<double>(st.bytes) / 1e6,
                Seconds(start));
  return true;
}

}  // namespace orv

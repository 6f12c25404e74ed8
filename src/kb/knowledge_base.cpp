// Knowledge-base tables and files: load, save, bounds, release.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "kb/learning_state.h"
#include "common/platform.h"
#include "kb/banners.h"
#include "kb/kb.h"

namespace orv {

static_assert(sizeof(SampleTableT) == 9830400, "SampleTable block of file 2");
static_assert(sizeof(LearningState::SampleHigh) == 1024 && sizeof(LearningState::RoiActive) == 128,
              "file 2 tail blocks");
static_assert(sizeof(LearningState::RoiWeightSum) == 2048 && sizeof(LearningState::JudgeSum) == 192 &&
                  sizeof(LearningState::JudgeCount) == 96 && sizeof(LearningState::SampleCount) == 32 &&
                  sizeof(LearningState::RoiMask) == 128,
              "file 3 blocks");

void (*EnginePumpEvents)() = nullptr;

// --- file names ---

std::string KBFileName(int content, int n) {
  char name[64];
  std::snprintf(name, sizeof name, "HOLVA_data-%d-%d.dat", content + 1, n);
  return name;
}

namespace {

constexpr double kAbnormal = 1e9;
constexpr int kMaxCountdownUnit = 100;  // 12 s per countdown step

// --- file 1: number parsing ---

// Reads one "%d" / "%lf" value the way scanf does (leading white space skipped).
// Values that do not fit an int count as unparsable.
bool ParseInt(const char*& p, int& out) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(p, &end, 10);
  if (end == p || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int>(v);
  p = end;
  return true;
}

bool ParseReal(const char*& p, double& out) {
  char* end = nullptr;
  const double v = std::strtod(p, &end);
  if (end == p) return false;
  out = v;
  p = end;
  return true;
}

// --- file 1: the parameters ---

// One parameter of file 1: its name on the console and the int or real it holds, written
// "%d " or "%lf ".
struct Param {
  const char* name;
  int* i;
  double* d;
};

// The parameters in file order, each with its meaning and its readers beyond the knowledge
// base. The file holds them in three groups: 1..15 (echoed on the console), 16..20 and 21.
constexpr int kEchoed = 15;
constexpr int kSecondGroupEnd = 20;
constexpr std::array<Param, 21> kParameters{{
    // grey-level step that marks a pixel as moved in the motion maps, 0..255; recognition,
    // the operator's keys
    {"DThreshold", &learn.DThreshold, nullptr},
    {"OK_HIGH", &learn.OK_HIGH, nullptr},  // width of the protocol-map kernel, > 0; learning's kernel tables
    // lowest agreement of the two rankings a live judgement accepts, -1..1; judgement
    {"OCThreshold", nullptr, &learn.OCThreshold},
    {"MThreshold", &learn.MThreshold, nullptr},  // second grey-level threshold of the motion maps; recognition
    {"pos_num", &learn.pos_num, nullptr},  // gesture being learned or last learned, 0..7; learning, judgement
    // frames per second, 1..1000: still-frame limit GRATE x 60 of the driver, pacing of the learning
    {"GRATE", &learn.GRATE, nullptr},
    {"GRATE_SUM", nullptr, &learn.GRATE_SUM},      // stored and read back only
    {"GRATE_COUNT", &learn.GRATE_COUNT, nullptr},  // stored and read back only
    {"NEROI", &learn.NEROI, nullptr},  // view points kept by the view-point selection, 0..32; learning
    // scale of the direction tables and step of the maps and the characteristics, 1..100; recognition
    {"SKIP", nullptr, &learn.SKIP},
    {"GRATE_SUM2", nullptr, &learn.GRATE_SUM2},  // stored and read back only
    {"RSKIP", nullptr, &learn.RSKIP},  // every RSKIP-th stored sample is compared, 1..100; discrimination
    {"GRATE_COUNT2", &learn.GRATE_COUNT2, nullptr},  // stored and read back only
    {"RF_COEFFICIENT", nullptr, &learn.RF_COEFFICIENT},  // factor of the learned RateLimit; learning
    {"IdealGRATE", &learn.IdealGRATE, nullptr},  // stored and read back only
    {"LearningPasses", &learn.LearningPasses, nullptr},  // passes still to run, 0 = not learning; all floors
    {"StatEpsilon", nullptr, &learn.StatEpsilon},  // added to the variances of the templates; learning
    // frames of the accept/reject hysteresis of the judgement, >= 1; judgement
    {"JudgeRepeat", &learn.JudgeRepeat, nullptr},
    {"ReservedReal", nullptr, &learn.ReservedReal},  // stored and read back only
    // countdown step of the learning entries, 120 ms units, <= 100; teaching
    {"CountdownUnit", &learn.CountdownUnit, nullptr},
    // 1 = the view-point selection takes RoiMask instead of the learned evidence; learning
    {"UseRoiMask", &learn.UseRoiMask, nullptr},
}};

bool ParseGroup(const char*& p, int from, int to) {
  for (int k = from; k < to; ++k) {
    const Param& v = kParameters[k];
    if (v.i ? !ParseInt(p, *v.i) : !ParseReal(p, *v.d)) return false;
  }
  return true;
}

// Parameters 1..15 as one console line.
void EchoParameters(std::FILE* out) {
  for (int k = 0; k < kEchoed; ++k) {
    const Param& v = kParameters[k];
    if (v.i)
      std::fprintf(out, "%s=%d ", v.name, *v.i);
    else
      std::fprintf(out, "%s=%lf ", v.name, *v.d);
  }
  std::fputc('\n', out);
}

// 21 values need a few hundred bytes; a file of junk must not fill the memory.
constexpr size_t kMaxParameterText = 1 << 20;

// A value that does not parse ends the reading: it and the later parameters keep their values.
void ReadParameters(std::FILE* f) {
  std::string text;
  char buf[4096];
  size_t n;
  while (text.size() < kMaxParameterText && (n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  const char* p = text.c_str();
  const bool ok = ParseGroup(p, 0, kEchoed);
  EchoParameters(stdout);
  if (ok && ParseGroup(p, kEchoed, kSecondGroupEnd)) ParseGroup(p, kSecondGroupEnd, static_cast<int>(kParameters.size()));
}

// Each value is formatted on its own: "%lf" of a huge double runs to over 300 characters.
void AppendInt(std::string& out, int v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d ", v);
  out += buf;
}

void AppendReal(std::string& out, double v) {
  char buf[400];
  std::snprintf(buf, sizeof buf, "%lf ", v);
  out += buf;
}

std::string FormatParameters() {
  std::string out;
  for (const Param& v : kParameters) v.i ? AppendInt(out, *v.i) : AppendReal(out, *v.d);
  return out;
}

// --- files 2 and 3: binary blocks ---

// A table's bytes as they lie in the file.
struct Block {
  void* data;
  size_t size;
};
template <typename T>
constexpr Block BlockOf(T& table) {
  return {&table, sizeof table};
}

// The blocks of files 2 and 3 in file order: ReadKB reads and WriteKB writes exactly these.
// File 2, the learning samples:
constexpr std::array<Block, 4> kFile2Blocks{{
    BlockOf(learn.GestureInfo),  // names and learned lengths: eight 28-byte entries one after another
    BlockOf(SampleTable),        // samples of the learning passes, [gesture][channel][view][sample]
    BlockOf(learn.RoiActive),    // 1 = the view point takes part, per view
    BlockOf(learn.SampleHigh),   // one more than the highest stored sample, [view][gesture]; -1 = none
}};
// File 3, the per-gesture statistics:
constexpr std::array<Block, 9> kFile3Blocks{{
    BlockOf(learn.RateLimit),     // evidence a candidate needs; judgement
    BlockOf(learn.GestureSpare),  // stored and read back only
    BlockOf(learn.OK_VAR),        // sample spread a live judgement accepts; judgement, playback
    BlockOf(learn.MatchLimit),    // how close the second-ranked gesture may come, ratio; judgement
    BlockOf(learn.RoiWeightSum),  // evidence per view gathered in the reviews; view-point selection
    BlockOf(learn.JudgeSum),      // three sums per gesture gathered in the reviews; learned limits
    BlockOf(learn.JudgeCount),    // their counts
    BlockOf(learn.SampleCount),   // samples recorded per gesture, the next free SampleTable index, 0..200
    BlockOf(learn.RoiMask),       // manual view-point selection, 1 = kept (with UseRoiMask)
}};
struct BlockFile {
  int number;  // 2 or 3
  std::span<const Block> blocks;
};
constexpr std::array<BlockFile, 2> kBlockFiles{{{2, kFile2Blocks}, {3, kFile3Blocks}}};
static_assert(sizeof(LearningState::GestureInfo) == kGestures * sizeof(GestureEntry), "GestureInfo: no padding");

void ReadBlocks(std::FILE* f, const BlockFile& file) {
  // A short file leaves the rest of the tables as they were.
  for (const Block& b : file.blocks) (void)std::fread(b.data, 1, b.size, f);
}

// --- file 4: pattern records ---

void CheckPattern(int m, int g, int s, const double* re, const double* ps) {
  for (int i = 0; i < kSigLen; ++i)
    if (re[i] > kAbnormal) std::fprintf(stderr, "Abnormal Data Exist in Re(%d %d %d)\n", m, g, s);
  for (int i = 0; i < kSigLen; ++i)
    if (ps[i] > kAbnormal) std::fprintf(stderr, "Abnormal Data Exist in Ps(%d %d %d)\n", m, g, s);
}

void ReadPatterns(std::FILE* f) {
  constexpr int kChunk = 256;
  std::vector<PatternRecord> buf(kChunk);
  int accepted = 0;
  while (accepted < kPatternRecords) {
    const size_t want = static_cast<size_t>(std::min(kChunk, kPatternRecords - accepted));
    const size_t got = std::fread(buf.data(), sizeof(PatternRecord), want, f);
    for (size_t k = 0; k < got; ++k) {
      const PatternRecord& r = buf[k];
      const int m = r.MODE, g = r.GESTURE, s = r.SAMPLE;
      if (m < 0 || m >= kViews || g < 0 || g >= kGestures || s < 0 || s >= kSeqFrames) {
        std::fprintf(stderr, "Illegal Index Number Detected in ReadKB(). Data Number = %d\n", accepted);
        std::fprintf(stderr, "index1=%d, index2=%d,  index3=%d\n", m, g, s);
        return;
      }
      if (!EnsurePatternStore()) {
        std::fprintf(stderr, "ReadKB(): out of memory for the pattern records; %d loaded.\n", accepted);
        return;
      }
      Patterns->Header[m][g][s] = {r.MODE, r.GESTURE, r.SAMPLE, r.reserved};
      std::memcpy(Patterns->Re[m][g][s].data(), r.Re, sizeof r.Re);
      std::memcpy(Patterns->Ps[m][g][s].data(), r.Ps, sizeof r.Ps);
      PatternPresent[m][g][s] = 1;
      CheckPattern(m, g, s, r.Re, r.Ps);
      ++accepted;
    }
    if (got < want) return;  // end of file: a trailing part record is ignored
  }
}

void PumpEvents() {
  if (EnginePumpEvents) EnginePumpEvents();
}

// --- saving: temporary files, renamed only when all four are complete ---

struct TempFile {
  std::string target, tmp;
  std::FILE* f = nullptr;
  bool ok = false;
};

bool OpenTemp(TempFile& t, const std::string& target) {
  t.target = target;
  t.tmp = target + ".tmp";
  t.f = std::fopen(t.tmp.c_str(), "wb");
  if (!t.f) std::fprintf(stderr, "Couldn't Open File in WriteKB()-[ %s ].\n", target.c_str());
  return t.f != nullptr;
}

void WriteBlocks(TempFile& t, const BlockFile& file) {
  for (const Block& b : file.blocks) (void)std::fwrite(b.data, 1, b.size, t.f);
}

void CloseTemp(TempFile& t) {
  if (!t.f) return;
  bool good = std::fflush(t.f) == 0 && !std::ferror(t.f);
  good = ::fsync(::fileno(t.f)) == 0 && good;
  good = std::fclose(t.f) == 0 && good;
  t.f = nullptr;
  t.ok = good;
  if (!good) std::fprintf(stderr, "WriteKB(): could not write [ %s ].\n", t.target.c_str());
}

}  // namespace

// --- bounds of loaded values ---

// Loaded values that later serve as indices, loop steps or counts are bounded here,
// each with a message on stderr. Clamped: SampleHigh to -1..200, SampleCount to
// 0..200, NEROI to 0..32, GestureInfo lengths to 0..200, RecordedFrames/ReviewFrame
// (not from files, but guarded alike). Refused (back to the default): pos_num outside
// 0..7 (-> 0), SKIP/RSKIP below 1 or not finite (-> 1.0; above 100 they are cut to
// 100, where every region is rejected anyway), GRATE below 1 (-> 60; above 1000 cut to
// 1000, keeping GRATE x 60 in range), CountdownUnit above 100 (-> 100, 12 s per countdown
// step), a non-finite SampleTable similarity or sample
// (-> the record becomes invalid), RoiMask/RoiActive entries other than 0/1 (-> 1 when
// non-zero, so the mask sum stays a view count).
void BoundKnowledgeBase() {
  LearningState& l = learn;
  auto note = [](const char* what, double was, double now) {
    std::fprintf(stderr, "ReadKB(): %s=%g is out of range; using %g.\n", what, was, now);
  };
  if (l.pos_num < 0 || l.pos_num >= kGestures) note("pos_num", l.pos_num, 0), l.pos_num = 0;
  if (l.NEROI < 0 || l.NEROI > kViews) {
    const int now = l.NEROI < 0 ? 0 : kViews;
    note("NEROI", l.NEROI, now), l.NEROI = now;
  }
  auto boundStep = [&](const char* what, double& v) {
    if (!std::isfinite(v) || v < 1.0) note(what, v, 1.0), v = 1.0;
    else if (v > 100.0) note(what, v, 100.0), v = 100.0;
  };
  boundStep("SKIP", l.SKIP);
  boundStep("RSKIP", l.RSKIP);
  if (l.GRATE < 1) note("GRATE", l.GRATE, 60), l.GRATE = 60;
  else if (l.GRATE > 1000) note("GRATE", l.GRATE, 1000), l.GRATE = 1000;
  // Countdown steps last CountdownUnit x 120 ms: a huge unit would overflow that product and
  // keep the operator waiting for days.
  if (l.CountdownUnit > kMaxCountdownUnit)
    note("CountdownUnit", l.CountdownUnit, kMaxCountdownUnit), l.CountdownUnit = kMaxCountdownUnit;

  int high = 0;
  for (auto& row : l.SampleHigh)
    for (int& h : row)
      if (h < -1 || h > kSeqFrames) h = h < -1 ? -1 : kSeqFrames, ++high;
  if (high) std::fprintf(stderr, "ReadKB(): %d SampleHigh entries out of -1..200 were limited.\n", high);

  for (int g = 0; g < kGestures; ++g) {
    int& c = l.SampleCount[g];
    if (c < 0 || c > kSeqFrames) {
      char what[32];
      std::snprintf(what, sizeof what, "SampleCount[%d]", g);
      const int now = c < 0 ? 0 : kSeqFrames;
      note(what, c, now), c = now;
    }
    int32_t& len = l.GestureInfo[g].length;
    if (len < 0 || len > kSeqFrames) {
      char what[40];
      std::snprintf(what, sizeof what, "GestureInfo[%d].length", g);
      const int now = len < 0 ? 0 : kSeqFrames;
      note(what, len, now), len = now;
    }
  }

  int flags = 0;
  for (int v = 0; v < kViews; ++v) {
    if (l.RoiMask[v] != 0 && l.RoiMask[v] != 1) l.RoiMask[v] = 1, ++flags;
    if (l.RoiActive[v] != 0 && l.RoiActive[v] != 1) l.RoiActive[v] = 1, ++flags;
  }
  if (flags) std::fprintf(stderr, "ReadKB(): %d RoiMask/RoiActive entries other than 0/1 were set to 1.\n", flags);

  int bad = 0;
  for (auto& byChannel : SampleTable)
    for (auto& byView : byChannel)
      for (auto& bySample : byView)
        for (SampleRecord& r : bySample)
          if (!std::isfinite(r.similarity) || !std::isfinite(r.sample)) r = SampleRecord{0, 0, 0.0, 0.0}, ++bad;
  if (bad) std::fprintf(stderr, "ReadKB(): %d learning samples with non-finite values were made invalid.\n", bad);

  if (l.RecordedFrames < 0 || l.RecordedFrames > kSeqFrames - 1) l.RecordedFrames = 0;
  if (l.ReviewFrame < 0 || l.ReviewFrame > l.RecordedFrames) l.ReviewFrame = 0;
}

// --- reading and writing ---

int ReadKB(int content) {
  std::string name[4];
  for (int i = 0; i < 4; ++i) {
    name[i] = KBFileName(content, i + 1);
    if (!FileReadable(name[i])) return -1;
  }
  ReleaseAllPatterns();

  if (std::FILE* f = std::fopen(name[0].c_str(), "r")) {
    ReadParameters(f);
    std::fclose(f);
  } else {
    std::fprintf(stderr, "Couldn't Open File in ReadKB()-[ %s ].\n", name[0].c_str());
  }

  for (const BlockFile& file : kBlockFiles) {
    const std::string& n = name[file.number - 1];
    if (std::FILE* f = std::fopen(n.c_str(), "rb")) {
      ReadBlocks(f, file);
      std::fclose(f);
    } else {
      std::fprintf(stderr, "Couldn't Open File in ReadKB()-[ %s ].\n", n.c_str());
    }
  }

  std::FILE* f = std::fopen(name[3].c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "Couldn't Open File in ReadKB()-[ %s ].\n", name[3].c_str());
    BoundKnowledgeBase();
    return 0;
  }
  ReadPatterns(f);
  std::fclose(f);
  BoundKnowledgeBase();

  PumpEvents();
  if (learn.CamBeep) Bell();
  PrintGoBanner(GoBanner::Loaded);
  std::fflush(stdout);
  return 0;
}

// Writes the four files as the exact inverse of ReadKB. All four are written to
// temporary files first and renamed only when every one is complete, so a failure
// (open error, full disk) keeps the previous knowledge base whole.
bool WriteKB(int content) {
  TempFile t[4];
  bool all = true;

  if (OpenTemp(t[0], KBFileName(content, 1))) {
    const std::string text = FormatParameters();
    (void)std::fwrite(text.data(), 1, text.size(), t[0].f);
    CloseTemp(t[0]);
  }
  EchoParameters(stdout);
  all = all && t[0].ok;

  for (const BlockFile& file : kBlockFiles) {
    TempFile& x = t[file.number - 1];
    if (OpenTemp(x, KBFileName(content, file.number))) {
      WriteBlocks(x, file);
      CloseTemp(x);
    }
    all = all && x.ok;
  }

  auto discard = [&] {
    for (TempFile& x : t)
      if (!x.tmp.empty()) std::remove(x.tmp.c_str());
    std::fprintf(stderr, "WriteKB(): the knowledge base was not saved; the previous files are kept.\n");
  };

  if (!OpenTemp(t[3], KBFileName(content, 4))) {
    discard();
    return false;
  }
  if (Patterns) {
    PatternRecord r{};
    for (int m = 0; m < kViews; ++m)
      for (int g = 0; g < kGestures; ++g)
        for (int s = 0; s < kSeqFrames; ++s) {
          if (!PatternPresent[m][g][s]) continue;
          auto& h = Patterns->Header[m][g][s];
          h[0] = m, h[1] = g, h[2] = s;
          r.MODE = m, r.GESTURE = g, r.SAMPLE = s, r.reserved = h[3];
          std::memcpy(r.Re, Patterns->Re[m][g][s].data(), sizeof r.Re);
          std::memcpy(r.Ps, Patterns->Ps[m][g][s].data(), sizeof r.Ps);
          (void)std::fwrite(&r, sizeof r, 1, t[3].f);
          CheckPattern(m, g, s, r.Re, r.Ps);
        }
  }
  CloseTemp(t[3]);
  all = all && t[3].ok;

  if (!all) {
    discard();
    return false;
  }
  bool replaced = true;
  for (TempFile& x : t) {
    if (std::rename(x.tmp.c_str(), x.target.c_str()) != 0) {
      std::fprintf(stderr, "WriteKB(): could not replace [ %s ].\n", x.target.c_str());
      std::remove(x.tmp.c_str());
      replaced = false;
    }
  }

  PumpEvents();
  PrintFinishedBanner(FinishedBanner::Saved);
  std::fflush(stdout);
  return replaced;
}

void ReleaseKnowledgeBase() { ReleaseAllPatterns(); }

}  // namespace orv

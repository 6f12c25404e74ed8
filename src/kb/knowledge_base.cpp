// Knowledge-base tables and files: load, save, bounds, release.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kb/learning_state.h"
#include "common/platform.h"
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

std::string KBFileName(int content, int n) {
  char name[64];
  std::snprintf(name, sizeof name, "HOLVA_data-%d-%d.dat", content + 1, n);
  return name;
}

namespace {

constexpr double kAbnormal = 1e9;
constexpr int kMaxCountdownUnit = 100;  // 12 s per countdown step

// ---- file 1: parameters as text ---------------------------------------------

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

struct Param {
  int* i;
  double* d;
};

bool ParseGroup(const char*& p, std::initializer_list<Param> group) {
  for (const Param& v : group) {
    if (v.i ? !ParseInt(p, *v.i) : !ParseReal(p, *v.d)) return false;
  }
  return true;
}

void EchoParameters(std::FILE* out) {
  const LearningState& l = learn;
  std::fprintf(out, "DThreshold=%d OK_HIGH=%d OCThreshold=%lf MThreshold=%d pos_num=%d ", l.DThreshold,
               l.OK_HIGH, l.OCThreshold, l.MThreshold, l.pos_num);
  std::fprintf(out, "GRATE=%d GRATE_SUM=%lf GRATE_COUNT=%d NEROI=%d SKIP=%lf GRATE_SUM2=%lf ", l.GRATE,
               l.GRATE_SUM, l.GRATE_COUNT, l.NEROI, l.SKIP, l.GRATE_SUM2);
  std::fprintf(out, "RSKIP=%lf GRATE_COUNT2=%d RF_COEFFICIENT=%lf IdealGRATE=%d \n", l.RSKIP,
               l.GRATE_COUNT2, l.RF_COEFFICIENT, l.IdealGRATE);
}

// 21 values need a few hundred bytes; a file of junk must not fill the memory.
constexpr size_t kMaxParameterText = 1 << 20;

void ReadParameters(std::FILE* f) {
  std::string text;
  char buf[4096];
  size_t n;
  while (text.size() < kMaxParameterText && (n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  const char* p = text.c_str();
  LearningState& l = learn;
  const bool ok = ParseGroup(p, {{&l.DThreshold, nullptr}, {&l.OK_HIGH, nullptr}, {nullptr, &l.OCThreshold},
                                 {&l.MThreshold, nullptr}, {&l.pos_num, nullptr}, {&l.GRATE, nullptr},
                                 {nullptr, &l.GRATE_SUM}, {&l.GRATE_COUNT, nullptr}, {&l.NEROI, nullptr},
                                 {nullptr, &l.SKIP}, {nullptr, &l.GRATE_SUM2}, {nullptr, &l.RSKIP},
                                 {&l.GRATE_COUNT2, nullptr}, {nullptr, &l.RF_COEFFICIENT},
                                 {&l.IdealGRATE, nullptr}});
  EchoParameters(stdout);
  if (!ok) return;
  if (!ParseGroup(p, {{&l.LearningPasses, nullptr}, {nullptr, &l.StatEpsilon}, {&l.JudgeRepeat, nullptr},
                      {nullptr, &l.ReservedReal}, {&l.CountdownUnit, nullptr}}))
    return;
  ParseGroup(p, {{&l.UseRoiMask, nullptr}});
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
  const LearningState& l = learn;
  std::string out;
  AppendInt(out, l.DThreshold), AppendInt(out, l.OK_HIGH), AppendReal(out, l.OCThreshold);
  AppendInt(out, l.MThreshold), AppendInt(out, l.pos_num), AppendInt(out, l.GRATE);
  AppendReal(out, l.GRATE_SUM), AppendInt(out, l.GRATE_COUNT), AppendInt(out, l.NEROI);
  AppendReal(out, l.SKIP), AppendReal(out, l.GRATE_SUM2), AppendReal(out, l.RSKIP);
  AppendInt(out, l.GRATE_COUNT2), AppendReal(out, l.RF_COEFFICIENT), AppendInt(out, l.IdealGRATE);
  AppendInt(out, l.LearningPasses), AppendReal(out, l.StatEpsilon), AppendInt(out, l.JudgeRepeat);
  AppendReal(out, l.ReservedReal), AppendInt(out, l.CountdownUnit);
  AppendInt(out, l.UseRoiMask);
  return out;
}

// ---- binary blocks ------------------------------------------------------------

template <typename T>
void ReadBlock(std::FILE* f, T& table) {
  // A short file leaves the rest of the table as it was.
  (void)std::fread(&table, 1, sizeof table, f);
}

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

// ---- saving: temporary files, renamed only when all four are complete --------

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

template <typename T>
void WriteBlock(TempFile& t, const T& table) {
  (void)std::fwrite(&table, 1, sizeof table, t.f);
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

void Banner(const char* const* lines, int n) {
  for (int i = 0; i < n; ++i) std::fputs(lines[i], stdout);
}

}  // namespace

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

  if (std::FILE* f = std::fopen(name[1].c_str(), "rb")) {
    for (auto& entry : learn.GestureInfo) ReadBlock(f, entry);
    ReadBlock(f, SampleTable);
    ReadBlock(f, learn.RoiActive);
    ReadBlock(f, learn.SampleHigh);
    std::fclose(f);
  } else {
    std::fprintf(stderr, "Couldn't Open File in ReadKB()-[ %s ].\n", name[1].c_str());
  }

  if (std::FILE* f = std::fopen(name[2].c_str(), "rb")) {
    ReadBlock(f, learn.RateLimit);
    ReadBlock(f, learn.GestureSpare);
    ReadBlock(f, learn.OK_VAR);
    ReadBlock(f, learn.MatchLimit);
    ReadBlock(f, learn.RoiWeightSum);
    ReadBlock(f, learn.JudgeSum);
    ReadBlock(f, learn.JudgeCount);
    ReadBlock(f, learn.SampleCount);
    ReadBlock(f, learn.RoiMask);
    std::fclose(f);
  } else {
    std::fprintf(stderr, "Couldn't Open File in ReadKB()-[ %s ].\n", name[2].c_str());
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
  static const char* const kGo[] = {
      "\nReadKB:\n         OOO            O \n", "        O               O \n",
      "        O       OOOO    O \n",             "        O OOOO O    O   O \n",
      "        O   O  O    O   O \n",             "        O   O  O    O     \n",
      "         OOO    OOOO    O \n\n"};
  Banner(kGo, 7);
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

  if (OpenTemp(t[1], KBFileName(content, 2))) {
    for (const auto& entry : learn.GestureInfo) WriteBlock(t[1], entry);
    WriteBlock(t[1], SampleTable);
    WriteBlock(t[1], learn.RoiActive);
    WriteBlock(t[1], learn.SampleHigh);
    CloseTemp(t[1]);
  }
  all = all && t[1].ok;

  if (OpenTemp(t[2], KBFileName(content, 3))) {
    WriteBlock(t[2], learn.RateLimit);
    WriteBlock(t[2], learn.GestureSpare);
    WriteBlock(t[2], learn.OK_VAR);
    WriteBlock(t[2], learn.MatchLimit);
    WriteBlock(t[2], learn.RoiWeightSum);
    WriteBlock(t[2], learn.JudgeSum);
    WriteBlock(t[2], learn.JudgeCount);
    WriteBlock(t[2], learn.SampleCount);
    WriteBlock(t[2], learn.RoiMask);
    CloseTemp(t[2]);
  }
  all = all && t[2].ok;

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
  static const char* const kFinished[] = {
      "\nWriteKB:\n         OOOOO  O  O   O  O   OOOO O   O OOOOO OOO    O \n",
      "         O      O  OO  O  O  O     O   O O     O  O   O \n",
      "         O      O  OO  O  O  O     O   O O     O   O  O \n",
      "         OOOO   O  O O O  O   OOO  OOOOO OOOO  O   O  O \n",
      "         O      O  O  OO  O      O O   O O     O   O  O \n",
      "         O      O  O   O  O      O O   O O     O  O     \n",
      "         O      O  O   O  O  OOOO  O   O OOOOO OOO    O \n\n"};
  Banner(kFinished, 7);
  std::fflush(stdout);
  return replaced;
}

void ReleaseKnowledgeBase() { ReleaseAllPatterns(); }

}  // namespace orv

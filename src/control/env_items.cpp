// The player parameter file item by item (see env_items.h).
#include "control/env_items.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "common/platform.h"

namespace orv {

namespace {

// --- the items ---

constexpr double kAnyInt = 0.0;  // lo == hi == 0 marks "any int" below
constexpr double kFrames = static_cast<double>(kMaxFrames);

// Ranges are the ones values must keep to be usable as divisors, positions and indices.
const std::array<EnvItem, kEnvBasicItems> kBasic{{
    {"SampleStep", EnvKind::Int, 1, kCamW, "pixel step of the motion measure"},
    {"ContentNumber", EnvKind::Int, 0, 998, "content: 0 = ../S001, 1 = ../S002, ..."},
    {"MaxCount", EnvKind::Int, 1, kMaxFrames, "number of frames played (replaces the count found)"},
    {"frame_no", EnvKind::Double, 0.0, kFrames, "frame position at start"},
    {"VR_threshold", EnvKind::Int, kAnyInt, kAnyInt, "motion threshold (ZAV_THRESHOLD.dat replaces it)"},
    {"Direction", EnvKind::Int, kAnyInt, kAnyInt, "1 forward, 0 backward"},
    {"VR_step", EnvKind::Double, -kFrames, kFrames, "frames moved per cycle of motion"},
    {"BurstFlip", EnvKind::Int, kAnyInt, kAnyInt, "burst length that reverses (set by the camera state)"},
    {"BurstReset", EnvKind::Int, kAnyInt, kAnyInt, "burst length that restarts (set by the camera state)"},
    {"KeyFrameMode", EnvKind::Int, kAnyInt, kAnyInt, "idle action: 0 none, 1 play on, 2-4 key frames"},
    {"IdleCount", EnvKind::Int, kAnyInt, kAnyInt, "quiet cycles so far"},
    {"IdleLimit", EnvKind::Int, kAnyInt, kAnyInt, "quiet cycles before the idle action"},
    {"MonitorMode", EnvKind::Int, kAnyInt, kAnyInt, "console: 0 quiet, 1 status line, 2 motion line"},
    {"PreviewMode", EnvKind::Int, kAnyInt, kAnyInt, "preview selector (2 after start-up)"},
    {"WrapFlag", EnvKind::Int, kAnyInt, kAnyInt, "1 wrap around at the ends, 0 stop there"},
    {"PlayState", EnvKind::Int, kAnyInt, kAnyInt, "stepping rule 1-5 (1 = bursts of motion)"},
    {"KeyFrameIndex", EnvKind::Int, 0, kKeyFrames - 1, "position in the key-frame ring"},
}};
const EnvItem kKeyFrame{"KeyFrameNumber", EnvKind::Double, -kFrames, kFrames, "key frame, 0 = empty"};
const std::array<EnvItem, kEnvExtraItems> kExtra{{
    {"StartFrameNum", EnvKind::Int, 0, kMaxFrames - 1, "replay period start (0 and 0 = none)"},
    {"EndFrameNum", EnvKind::Int, 0, kMaxFrames - 1, "replay period end"},
    {"MouseReverseFlag", EnvKind::Int, kAnyInt, kAnyInt, "reverses the gesture-to-frame mapping"},
    {"MouseVertFlag", EnvKind::Int, kAnyInt, kAnyInt, "stored only"},
    {"flip_mode", EnvKind::Int, 0, 2, "0 normal, 1 mirrored, 2 upside down"},
}};

bool AnyInt(const EnvItem& it) { return it.kind == EnvKind::Int && it.lo == kAnyInt && it.hi == kAnyInt; }

bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// --- reading and writing values ---

// One formatted read at `pos` as the loader's fscanf would do it. Returns 1 with the span,
// 0 for text that is not a number, -1 at the end.
int ReadNumber(const std::string& text, size_t pos, EnvKind kind, double* v, size_t* begin, size_t* end) {
  while (pos < text.size() && IsCSpace(text[pos])) ++pos;
  *begin = pos;
  if (pos >= text.size()) return -1;
  // The text is NUL-terminated at size(); a NUL inside is not a number.
  int n = 0;
  int got = 0;
  if (kind == EnvKind::Int) {
    long l = 0;
    got = std::sscanf(text.c_str() + pos, "%ld%n", &l, &n);
    *v = static_cast<double>(l);
  } else {
    got = std::sscanf(text.c_str() + pos, "%lf%n", v, &n);
  }
  if (got != 1) return 0;
  *end = pos + static_cast<size_t>(n);
  return 1;
}

}  // namespace

const EnvItem& EnvItemInfo(int item) {
  if (item < kEnvFirstKeyFrame) return kBasic[static_cast<size_t>(item < 0 ? 0 : item)];
  if (item < kEnvFirstExtra) return kKeyFrame;
  const int e = item - kEnvFirstExtra;
  return kExtra[static_cast<size_t>(e < kEnvExtraItems ? e : kEnvExtraItems - 1)];
}

std::string EnvItemName(int item) {
  if (item >= kEnvFirstKeyFrame && item < kEnvFirstExtra)
    return "KeyFrameNumber[" + std::to_string(item - kEnvFirstKeyFrame) + "]";
  return EnvItemInfo(item).name;
}

int FindEnvItem(const std::string& name) {
  for (int i = 0; i < kEnvBasicItems; ++i)
    if (name == kBasic[static_cast<size_t>(i)].name) return i;
  for (int i = 0; i < kEnvExtraItems; ++i)
    if (name == kExtra[static_cast<size_t>(i)].name) return kEnvFirstExtra + i;
  const std::string prefix = "KeyFrameNumber[";
  if (name.rfind(prefix, 0) != 0 || name.size() < prefix.size() + 2 || name.back() != ']') return -1;
  std::string inner = name.substr(prefix.size(), name.size() - prefix.size() - 1);
  const size_t a = inner.find_first_not_of(' '), b = inner.find_last_not_of(' ');
  if (a == std::string::npos) return -1;
  inner = inner.substr(a, b - a + 1);
  if (inner.empty() || inner.size() > 4 || inner.find_first_not_of("0123456789") != std::string::npos) return -1;
  const int k = std::atoi(inner.c_str());
  return k < kKeyFrames ? kEnvFirstKeyFrame + k : -1;
}

std::string EnvBoundsText(int item) {
  const EnvItem& it = EnvItemInfo(item);
  if (AnyInt(it)) return "any int";
  char buf[64];
  if (it.kind == EnvKind::Int)
    std::snprintf(buf, sizeof buf, "%.0f..%.0f", it.lo, it.hi);
  else
    std::snprintf(buf, sizeof buf, "%.0f <= v < %.0f", it.lo, it.hi);
  return buf;
}

bool EnvValueAccepted(int item, double v) {
  const EnvItem& it = EnvItemInfo(item);
  if (it.kind == EnvKind::Int) {
    if (AnyInt(it)) return v >= INT_MIN && v <= INT_MAX;
    return v >= it.lo && v <= it.hi;
  }
  return std::isfinite(v) && v >= it.lo && v < it.hi;
}

bool ParseEnvValue(int item, const std::string& text, double* v) {
  if (text.empty() || IsCSpace(text[0]) || text.find('\0') != std::string::npos) return false;
  size_t begin = 0, end = 0;
  return ReadNumber(text, 0, EnvItemInfo(item).kind, v, &begin, &end) == 1 && end == text.size();
}

std::string FormatEnvValue(int item, double v) {
  char buf[64];
  if (EnvItemInfo(item).kind == EnvKind::Int) {
    std::snprintf(buf, sizeof buf, "%ld", static_cast<long>(v));
    return buf;
  }
  if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15) {
    std::snprintf(buf, sizeof buf, "%.1f", v);  // frame numbers read best as 120.0, not 1.2e+02
    return buf;
  }
  for (int p = 1; p <= 17; ++p) {
    std::snprintf(buf, sizeof buf, "%.*g", p, v);
    if (std::strtod(buf, nullptr) == v) break;
  }
  std::string s = buf;
  if (std::isfinite(v) && s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

// --- the file as text and as a document ---

std::string EnvFileText(const EnvValues& v) {
  std::string out;
  for (int i = 0; i < kEnvBasicItems; ++i) out += FormatEnvValue(i, v[static_cast<size_t>(i)]) + "\n";
  for (int k = 0; k < kKeyFrames; ++k) {
    const int i = kEnvFirstKeyFrame + k;
    out += FormatEnvValue(i, v[static_cast<size_t>(i)]);
    out += k % 16 == 15 ? '\n' : ' ';
  }
  for (int e = 0; e < kEnvExtraItems; ++e) {
    const int i = kEnvFirstExtra + e;
    out += FormatEnvValue(i, v[static_cast<size_t>(i)]);
    out += e + 1 < kEnvExtraItems ? ' ' : '\n';
  }
  return out;
}

EnvDocument ParseEnvText(const std::string& text) {
  EnvDocument doc;
  doc.text = text;
  size_t pos = 0;
  for (int i = 0; i < kEnvItemCount; ++i) {
    double v = 0.0;
    size_t begin = 0, end = 0;
    const int r = ReadNumber(text, pos, EnvItemInfo(i).kind, &v, &begin, &end);
    if (r != 1) {
      doc.stoppedOnText = r == 0;
      doc.stopOffset = begin;
      return doc;
    }
    doc.values.push_back(v);
    doc.spans.emplace_back(begin, end);
    pos = end;
  }
  doc.stopOffset = pos;
  return doc;
}

bool ReadEnvFile(const std::string& path, EnvDocument* doc, std::string* err) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *err = std::strerror(errno);
    return false;
  }
  std::string text;
  char buf[1 << 16];
  size_t n = 0;
  // A parameter file is some 10 KB; anything far larger is not one.
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() < (16u << 20)) text.append(buf, n);
  const bool bad = std::ferror(f) != 0;
  std::fclose(f);
  if (bad || text.size() >= (16u << 20)) {
    *err = bad ? "read error" : "larger than 16 MB, not a parameter file";
    return false;
  }
  *doc = ParseEnvText(text);
  return true;
}

bool SetEnvItems(EnvDocument* doc, const std::vector<std::pair<int, std::string>>& list, std::string* why) {
  std::map<int, std::string> items;  // one value per item, the last one given
  for (const auto& [item, value] : list) items[item] = value;
  const int have = static_cast<int>(doc->values.size());
  int need = have;  // items the file must hold after the change
  for (const auto& [item, value] : items) {
    if (item < have) continue;
    if (doc->stoppedOnText) {
      *why = "the file holds something that is not a number after item " + std::to_string(have) +
             ", so the player ignores " + EnvItemName(item) + " and every item from " + EnvItemName(have) + " on";
      return false;
    }
    if (have < kEnvBasicItems) {
      *why = "the file ends after " + std::to_string(have) + " of the " + std::to_string(kEnvBasicItems) +
             " basic items; " + EnvItemName(item) + " is not in it";
      return false;
    }
    // Missing key frames and extras read as 0 anyway; adding them as 0 changes nothing else.
    need = std::max(need, item < kEnvFirstExtra ? kEnvFirstExtra : kEnvItemCount);
  }
  std::string text = doc->text;
  // Replace from the back so that earlier spans stay valid.
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    if (it->first >= have) continue;
    const auto [b, e] = doc->spans[static_cast<size_t>(it->first)];
    // A number may touch its neighbours ("0..5" is 0. and .5 to the loader); the new value is
    // set apart by a space so that it cannot run into them and change what they read as.
    std::string value = it->second;
    if (e < text.size() && !IsCSpace(text[e])) value += ' ';
    if (b > 0 && !IsCSpace(text[b - 1])) value.insert(0, 1, ' ');
    text.replace(b, e - b, value);
  }
  if (need > have) {
    if (text.empty() || !IsCSpace(text.back())) text += '\n';
    for (int i = have; i < need; ++i) {
      const auto found = items.find(i);
      text += found != items.end() ? found->second : std::string("0");
      const bool lineEnd = i + 1 == kEnvFirstExtra || i + 1 == kEnvItemCount ||
                           (i >= kEnvFirstKeyFrame && i < kEnvFirstExtra && (i - kEnvFirstKeyFrame) % 16 == 15) ||
                           i < kEnvFirstKeyFrame;
      text += lineEnd ? '\n' : ' ';
    }
  }
  *doc = ParseEnvText(text);
  return true;
}

// --- why a value is refused ---

std::string EnvValueRefusal(int item, const std::string& value) {
  const EnvItem& it = EnvItemInfo(item);
  double v = 0.0;
  if (!ParseEnvValue(item, value, &v))
    return "REFUSED: " + EnvItemName(item) + " = " + value + ": not " +
           (it.kind == EnvKind::Int ? "a whole number" : "a number") + " (" + EnvBoundsText(item) + ")";
  if (!EnvValueAccepted(item, v))
    return "REFUSED: " + EnvItemName(item) + " = " + value + " is outside " + EnvBoundsText(item);
  return "";
}

bool WriteEnvItems(const std::string& path, EnvDocument* doc, const std::vector<std::pair<int, std::string>>& items,
                   std::vector<EnvChange>* changes, std::vector<std::string>* refusals) {
  std::vector<std::string> why;
  for (const auto& [item, value] : items)
    if (std::string r = EnvValueRefusal(item, value); !r.empty()) why.push_back(r);
  if (!why.empty()) why.push_back(path + " is unchanged.");
  const EnvDocument before = *doc;
  std::string err;
  if (why.empty() && !SetEnvItems(doc, items, &err)) why.push_back("REFUSED: " + err + "; " + path + " is unchanged.");
  if (why.empty() && !WriteFileAtomic(path, doc->text)) {
    *doc = before;
    why.push_back("ERROR: cannot write " + path + "; it is unchanged.");
  }
  if (refusals) *refusals = why;
  if (!why.empty()) return false;
  if (changes) {
    changes->clear();
    for (const auto& [item, value] : items) {
      EnvChange c{item, "not in the file", value};
      if (item < static_cast<int>(before.values.size())) {
        const auto [b, e] = before.spans[static_cast<size_t>(item)];
        c.was = before.text.substr(b, e - b);
      }
      changes->push_back(c);
    }
  }
  return true;
}

}  // namespace orv

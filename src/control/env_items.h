// The player parameter file item by item: names, kinds and the bounds the loader applies.
// LoadEnv, orvante-env and the set-up tools share this table, so a value one of them accepts
// is a value the others accept too.
#pragma once
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "common/limits.h"

namespace orv {

constexpr int kEnvBasicItems = 17;  // SampleStep .. KeyFrameIndex
constexpr int kEnvExtraItems = 5;   // StartFrameNum .. flip_mode, optional
constexpr int kEnvFirstKeyFrame = kEnvBasicItems;                 // item of KeyFrameNumber[0]
constexpr int kEnvFirstExtra = kEnvBasicItems + kKeyFrames;       // item of StartFrameNum
constexpr int kEnvItemCount = kEnvFirstExtra + kEnvExtraItems;    // 1302 numbers in a full file

enum class EnvKind { Int, Double };

struct EnvItem {
  const char* name;     // as written on the orvante-env command line
  EnvKind kind;         // read with "%ld" (then an int) or "%lf"
  double lo, hi;        // accepted: Int lo..hi inclusive; Double lo <= v < hi and finite
  const char* meaning;  // a few words for listings
};

// Item 0..kEnvItemCount-1; the 1,280 key frames share one descriptor.
const EnvItem& EnvItemInfo(int item);
// "SampleStep", "KeyFrameNumber[12]", ...
std::string EnvItemName(int item);
// Item index of a name ("KeyFrameNumber[12]" and "KeyFrameNumber[ 12 ]" both work); -1 if unknown.
int FindEnvItem(const std::string& name);
// The bounds as text: "1..320", "0 <= v < 22000", "any int".
std::string EnvBoundsText(int item);
// The loader's check of one value.
bool EnvValueAccepted(int item, double v);
// Reads a value the way the loader would ("%ld" or "%lf") and requires the whole text to be
// that one number, so that writing it back cannot shift the items after it.
bool ParseEnvValue(int item, const std::string& text, double* v);
// The value as the file writes it: ints in decimal, doubles in their shortest exact form.
std::string FormatEnvValue(int item, double v);

// All 1,302 values in file order.
using EnvValues = std::array<double, kEnvItemCount>;
// Full parameter file text: one basic item per line, key frames 16 a line, the five extras.
std::string EnvFileText(const EnvValues& v);

// A parameter file as the loader sees it, with the byte span of every number it reads.
struct EnvDocument {
  std::string text;
  std::vector<double> values;              // items read, in order (values.size() of them)
  std::vector<std::pair<size_t, size_t>> spans;  // [begin, end) of each item's number in text
  bool stoppedOnText = false;  // reading stopped at something that is not a number (else at the end)
  size_t stopOffset = 0;       // where reading stopped
};
EnvDocument ParseEnvText(const std::string& text);
// Reads and parses a parameter file; false with the reason when it cannot be read.
bool ReadEnvFile(const std::string& path, EnvDocument* doc, std::string* err);

// Sets items of a document. Items the file does not reach yet are added only where the
// loader would see the same values without them: missing key frames as 0, missing extras as 0.
// Fails (document unchanged) when an item lies beyond something that is not a number or
// beyond a missing basic item; *why says which.
bool SetEnvItems(EnvDocument* doc, const std::vector<std::pair<int, std::string>>& items, std::string* why);

// Why `value` cannot be set as `item`, as one line ("REFUSED: VR_step = x: not a number
// (...)"); "" when it can.
std::string EnvValueRefusal(int item, const std::string& value);

// One item a write changed: its text in the file before ("not in the file" when the file did
// not reach it) and after.
struct EnvChange {
  int item = 0;
  std::string was, now;
};
// The one writer of parameter files (orvante-env, orvante-tune --apply): every value is checked
// against its item's bounds, all are set in `doc` (read from `path`) and the file is replaced
// atomically. Nothing is written unless every value is accepted and has its place; *refusals
// then holds the reasons, one line each, ending with the file being unchanged.
bool WriteEnvItems(const std::string& path, EnvDocument* doc, const std::vector<std::pair<int, std::string>>& items,
                   std::vector<EnvChange>* changes, std::vector<std::string>* refusals);

}  // namespace orv

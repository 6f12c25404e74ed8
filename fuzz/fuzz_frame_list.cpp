// The frame index tool's readers (orvante-index): the list form an operator edits, and an
// index file read back with --read.
//
// Input: byte 0 chooses the layout, the rest is the data.
//   0     the list text: parsed; what is accepted fits the index file's fields, and the list the
//         tool prints for it parses back to the same frames
//   1..   an index file (--read): the data's records part at the start of the
//         16,632,000-byte block (zeros behind it), then the count text (the part after kCountSep,
//         or "3"); what is read fits the fields the tool's writer checks
#include "harness.h"
#include "player/frame_index.h"

namespace {

using namespace orvfuzz;

bool Fits(const orv::FrameIndexEntry& e) {
  for (const std::string* s : {&e.path, &e.http, &e.file})
    if (s->size() > static_cast<size_t>(orv::kNameSize - 1) || s->find('\0') != std::string::npos) return false;
  return !e.path.empty();
}

// A list line cannot carry a CR at its end (it is taken as a Windows line end), so a frame
// whose last printed field ends in one reads back without it.
bool EndsInCr(const orv::FrameIndexEntry& e) {
  const std::string& last = !e.file.empty() ? e.file : !e.http.empty() ? e.http : e.path;
  return !last.empty() && last.back() == '\r';
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeStage();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string_view in(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<orv::FrameIndexEntry> entries, again;
  std::string err;
  if (data[0] == 0) {
    if (!orv::ParseFrameList(std::string(in), &entries, &err)) return 0;
    if (entries.size() > static_cast<size_t>(orv::kMaxFrames)) std::abort();
    bool cr = false;
    for (const auto& e : entries) {
      if (!Fits(e)) std::abort();
      cr = cr || EndsInCr(e);
    }
    if (!orv::ParseFrameList(orv::FormatFrameList(entries), &again, &err)) std::abort();
    if (!cr && again != entries) std::abort();
    return 0;
  }
  std::string_view records, count;
  if (!SplitAt(in, kCountSep, &records, &count)) count = "3";
  WriteSparse("index.dat", records, kIndexBlock, count);
  std::string warn;
  if (!orv::ReadFrameIndexFile("index.dat", &entries, &err, &warn)) return 0;
  if (entries.size() > static_cast<size_t>(orv::kMaxFrames)) std::abort();
  for (auto e : entries) {
    if (e.path.empty()) e.path = "-";  // a frame without an image is read as it is
    if (!Fits(e)) std::abort();
  }
  return 0;
}

// Frame index files (frame_dataNNNN.dat): producing and inspecting them. The player reads
// them in CheckContent; these operations serve the operator tool that writes them.
#pragma once
#include <string>
#include <vector>

namespace orv {

// One frame of an index: its image, and optionally a link image and an attached image
// (empty = none). Each must fit its 250-byte field with the end mark: at most 249 bytes.
struct FrameIndexEntry {
  std::string path;
  std::string http;
  std::string file;
  bool operator==(const FrameIndexEntry&) const = default;
};

// The list form: one frame per line, "path[<TAB>link[<TAB>attached]]". Blank lines are
// skipped; a trailing CR is dropped. false with a message naming the (1-based) line when a
// line has more than three fields, no image path, a string that does not fit its field, or
// when there are more frames than a content can hold.
bool ParseFrameList(const std::string& text, std::vector<FrameIndexEntry>* out, std::string* err);
// The same list form, one line per entry; empty trailing fields are left out.
std::string FormatFrameList(const std::vector<FrameIndexEntry>& entries);

// The clip_NNNNN.jpg files of a folder in ascending number, named folder + "/clip_NNNNN.jpg",
// found by the player's own scan rule (gaps skipped). false when the folder holds more frames
// than a content can hold, or a name would not fit its field.
bool ScanClipFolder(const std::string& folder, std::vector<FrameIndexEntry>* out, std::string* err);

// Writes the index (22,000 records of 756 bytes, then the count as text) atomically: an
// existing file is only replaced by a complete new one. Checks the entries as the list does.
bool WriteFrameIndex(const std::string& file, const std::vector<FrameIndexEntry>& entries, std::string* err);
// Reads an index file back. false when it is shorter than the record block, has no readable
// count, or a count outside 0..22,000. A string without its end mark is cut at 249 bytes and
// reported in *warn (which may be null).
bool ReadFrameIndexFile(const std::string& file, std::vector<FrameIndexEntry>* out, std::string* err,
                        std::string* warn = nullptr);

}  // namespace orv

// Frame index files: the list form an operator edits, and the binary file the player reads.
#include "player/frame_index.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/limits.h"
#include "common/platform.h"
#include "player/player_state.h"

namespace orv {

namespace {

constexpr size_t kRecordBlock = static_cast<size_t>(kMaxFrames) * sizeof(FrameRecord);
constexpr size_t kMaxString = kNameSize - 1;  // the end mark takes the last byte

std::string LineLabel(int line) { return "line " + std::to_string(line) + ": "; }

// The same checks for a list line and for an entry handed over directly.
bool CheckEntry(const FrameIndexEntry& e, const std::string& where, std::string* err) {
  if (e.path.empty()) {
    if (err) *err = where + "no image path";
    return false;
  }
  const struct {
    const std::string& s;
    const char* what;
  } fields[] = {{e.path, "image path"}, {e.http, "link image path"}, {e.file, "attached image path"}};
  for (const auto& f : fields) {
    if (f.s.size() > kMaxString) {
      if (err)
        *err = where + f.what + " is " + std::to_string(f.s.size()) + " bytes; at most " +
               std::to_string(kMaxString) + " fit its field";
      return false;
    }
    if (f.s.find('\0') != std::string::npos) {
      if (err) *err = where + f.what + " contains a NUL byte";
      return false;
    }
  }
  return true;
}

bool CheckCount(size_t n, std::string* err) {
  if (n <= static_cast<size_t>(kMaxFrames)) return true;
  if (err)
    *err = "line " + std::to_string(kMaxFrames + 1) + ": more than " + std::to_string(kMaxFrames) +
           " frames; a content holds at most " + std::to_string(kMaxFrames);
  return false;
}

// Copies a field out of a record; false when the field has no end mark (then cut).
bool TakeString(const char (&field)[kNameSize], std::string* out) {
  const void* end = std::memchr(field, '\0', kNameSize);
  const size_t n = end ? static_cast<size_t>(static_cast<const char*>(end) - field) : kMaxString;
  out->assign(field, n);
  return end != nullptr;
}

}  // namespace

bool ParseFrameList(const std::string& text, std::vector<FrameIndexEntry>* out, std::string* err) {
  std::vector<FrameIndexEntry> entries;
  size_t pos = 0;
  int lineNo = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;

    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
      const size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (fields.size() > 3) {
      if (err) *err = LineLabel(lineNo) + std::to_string(fields.size()) + " tab-separated fields; at most 3 (image, link, attached)";
      return false;
    }
    FrameIndexEntry e;
    e.path = fields[0];
    if (fields.size() > 1) e.http = fields[1];
    if (fields.size() > 2) e.file = fields[2];
    if (!CheckEntry(e, LineLabel(lineNo), err)) return false;
    if (entries.size() == static_cast<size_t>(kMaxFrames)) {
      if (err)
        *err = LineLabel(lineNo) + "frame " + std::to_string(kMaxFrames + 1) + " is one too many; a content holds at most " +
               std::to_string(kMaxFrames) + " frames";
      return false;
    }
    entries.push_back(std::move(e));
  }
  *out = std::move(entries);
  return true;
}

std::string FormatFrameList(const std::vector<FrameIndexEntry>& entries) {
  std::string s;
  for (const auto& e : entries) {
    s += e.path;
    if (!e.http.empty() || !e.file.empty()) s += '\t' + e.http;
    if (!e.file.empty()) s += '\t' + e.file;
    s += '\n';
  }
  return s;
}

bool ScanClipFolder(const std::string& folder, std::vector<FrameIndexEntry>* out, std::string* err) {
  std::string base = folder;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  auto name = [&](int j) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "/clip_%05d.jpg", j);
    return base + buf;
  };
  // The player's scan: numbers 0..25,000, gaps skipped, given up after 22,000 misses in a row.
  std::vector<FrameIndexEntry> entries;
  int misses = 0;
  int j = 0;
  for (; j <= 25000 && entries.size() < static_cast<size_t>(kMaxFrames); ++j) {
    const std::string p = name(j);
    if (FileExists(p)) {
      FrameIndexEntry e;
      e.path = p;
      if (!CheckEntry(e, "clip " + std::to_string(j) + ": ", err)) return false;
      entries.push_back(std::move(e));
      misses = 0;
    } else if (++misses > kMaxFrames) {
      break;
    }
  }
  // Where the player would stop silently at a full table, say so instead of dropping frames.
  if (entries.size() == static_cast<size_t>(kMaxFrames)) {
    for (; j <= 25000; ++j)
      if (FileExists(name(j))) {
        if (err)
          *err = name(j) + " is frame " + std::to_string(kMaxFrames + 1) + "; a content holds at most " +
                 std::to_string(kMaxFrames) + " frames";
        return false;
      }
  }
  *out = std::move(entries);
  return true;
}

bool WriteFrameIndex(const std::string& file, const std::vector<FrameIndexEntry>& entries, std::string* err) {
  if (!CheckCount(entries.size(), err)) return false;
  for (size_t i = 0; i < entries.size(); ++i)
    if (!CheckEntry(entries[i], "frame " + std::to_string(i) + ": ", err)) return false;

  std::string bytes(kRecordBlock, '\0');
  for (size_t i = 0; i < entries.size(); ++i) {
    FrameRecord r;
    std::memset(&r, 0, sizeof r);  // padding included: the file holds no stray bytes
    std::memcpy(r.path, entries[i].path.data(), entries[i].path.size());
    std::memcpy(r.http, entries[i].http.data(), entries[i].http.size());
    std::memcpy(r.file, entries[i].file.data(), entries[i].file.size());
    std::memcpy(bytes.data() + i * sizeof r, &r, sizeof r);
  }
  bytes += std::to_string(entries.size());
  if (!WriteFileAtomic(file, bytes)) {
    if (err) *err = "cannot write " + file + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ReadFrameIndexFile(const std::string& file, std::vector<FrameIndexEntry>* out, std::string* err,
                        std::string* warn) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(file.c_str(), "rb"), &std::fclose);
  if (!f) {
    if (err) *err = "cannot open " + file + ": " + std::strerror(errno);
    return false;
  }
  std::vector<FrameRecord> recs(kMaxFrames);
  const size_t got = std::fread(recs.data(), 1, kRecordBlock, f.get());
  if (got != kRecordBlock) {
    if (err)
      *err = file + " is " + std::to_string(got) + " bytes, shorter than the " + std::to_string(kRecordBlock) +
             "-byte record block";
    return false;
  }
  long count = 0;
  if (std::fscanf(f.get(), "%ld", &count) != 1) {
    if (err) *err = file + " has no frame count after its record block";
    return false;
  }
  if (count < 0 || count > kMaxFrames) {
    if (err) *err = file + ": frame count " + std::to_string(count) + " is outside 0.." + std::to_string(kMaxFrames);
    return false;
  }
  std::vector<FrameIndexEntry> entries(static_cast<size_t>(count));
  int cut = 0;
  for (long i = 0; i < count; ++i) {
    const FrameRecord& r = recs[static_cast<size_t>(i)];
    FrameIndexEntry& e = entries[static_cast<size_t>(i)];
    cut += !TakeString(r.path, &e.path) + !TakeString(r.http, &e.http) + !TakeString(r.file, &e.file);
  }
  if (cut && warn)
    *warn = file + ": " + std::to_string(cut) + " strings without an end mark were cut at " +
            std::to_string(kMaxString) + " bytes";
  *out = std::move(entries);
  return true;
}

}  // namespace orv

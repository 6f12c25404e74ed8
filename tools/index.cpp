// Writes and inspects frame index files, the only way to give frames a link image and an
// attached image.
//   orvante-index [-o FILE | --content N] LIST|FOLDER   write an index
//   orvante-index --read FILE                          print an index as a list
// LIST: one frame per line, "image[<TAB>link[<TAB>attached]]" ("-" = standard input).
// FOLDER: its clip_NNNNN.jpg files in order, named as FOLDER/clip_NNNNN.jpg.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/platform.h"
#include "player/frame_index.h"
#include "player/player.h"

using namespace orv;

namespace {

constexpr int kExitUsage = 1;    // bad arguments
constexpr int kExitRefused = 2;  // a list, folder or index that cannot be used (message names the line)
constexpr int kExitWrite = 3;    // the index could not be written

int Usage(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "orvante-index: %s\n", why.c_str());
  std::fprintf(stderr,
               "usage: orvante-index [-o FILE | --content N] LIST|FOLDER\n"
               "       orvante-index --read FILE\n");
  return kExitUsage;
}

bool ReadText(const std::string& name, std::string* text) {
  if (name == "-") {
    *text = std::string(std::istreambuf_iterator<char>(std::cin), {});
    return true;
  }
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text->append(buf, n);
  std::fclose(f);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out, input, readFile;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "-o" || a == "--content" || a == "--read") && i + 1 >= argc) return Usage(a + " needs a value");
    if (a == "-o") {
      out = argv[++i];
    } else if (a == "--content") {
      int n = 0;
      if (!ParseWhole(argv[++i], 1, 999, &n)) return Usage("--content takes a content number 1..999");
      out = FrameIndexFileName(n - 1);
    } else if (a == "--read") {
      readFile = argv[++i];
    } else if (a == "-h" || a == "--help") {
      Usage("");
      return 0;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return Usage("unknown option " + a);
    } else if (input.empty()) {
      input = a;
    } else {
      return Usage("one list or folder only");
    }
  }

  std::string err, warn;
  if (!readFile.empty()) {
    if (!input.empty() || !out.empty()) return Usage("--read takes no other arguments");
    std::vector<FrameIndexEntry> entries;
    if (!ReadFrameIndexFile(readFile, &entries, &err, &warn)) {
      std::fprintf(stderr, "orvante-index: %s\n", err.c_str());
      return kExitRefused;
    }
    if (!warn.empty()) std::fprintf(stderr, "orvante-index: %s\n", warn.c_str());
    const std::string list = FormatFrameList(entries);
    std::fwrite(list.data(), 1, list.size(), stdout);
    return 0;
  }

  if (input.empty()) return Usage("a list or a content folder is needed");
  if (out.empty()) out = FrameIndexFileName(0);
  std::vector<FrameIndexEntry> entries;
  std::error_code ec;
  if (input != "-" && std::filesystem::is_directory(input, ec)) {
    if (!ScanClipFolder(input, &entries, &err)) {
      std::fprintf(stderr, "orvante-index: %s\n", err.c_str());
      return kExitRefused;
    }
    if (entries.empty()) {
      std::fprintf(stderr, "orvante-index: %s holds no clip_NNNNN.jpg file\n", input.c_str());
      return kExitRefused;
    }
  } else {
    std::string text;
    if (!ReadText(input, &text)) {
      std::fprintf(stderr, "orvante-index: cannot read %s\n", input.c_str());
      return kExitRefused;
    }
    if (!ParseFrameList(text, &entries, &err)) {
      std::fprintf(stderr, "orvante-index: %s: %s\n", input.c_str(), err.c_str());
      return kExitRefused;
    }
  }
  if (!WriteFrameIndex(out, entries, &err)) {
    std::fprintf(stderr, "orvante-index: %s\n", err.c_str());
    return kExitWrite;
  }
  std::printf("%s: %zu frames\n", out.c_str(), entries.size());
  return 0;
}

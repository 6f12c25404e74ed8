// Lists a player parameter file (zav_envNNNN.dat or zav_env.dat) by item names, and sets
// items in it with the same bounds the player applies when it reads them.
//   orvante-env FILE                 list
//   orvante-env FILE ITEM=VALUE ...  set; nothing is written unless every value is accepted
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/platform.h"
#include "control/env_items.h"
#include "player/player.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

void PrintItem(const EnvDocument& doc, int item, const std::string& note = "") {
  const EnvItem& it = EnvItemInfo(item);
  const double v = doc.values[static_cast<size_t>(item)];
  std::string comment = std::string(it.meaning) + " (" + EnvBoundsText(item) + ")";
  if (!EnvValueAccepted(item, v)) comment += " -- OUT OF BOUNDS: the player ignores this value";
  if (!note.empty()) comment += " -- " + note;
  const auto [b, e] = doc.spans[static_cast<size_t>(item)];
  std::printf("%-18s = %-10s # %s\n", EnvItemName(item).c_str(), doc.text.substr(b, e - b).c_str(), comment.c_str());
}

// The content folder the file's ContentNumber names, seen from the file's own folder.
std::string ContentFolderOf(const std::string& file, const EnvDocument& doc) {
  int content = 0;
  if (doc.values.size() > 1 && EnvValueAccepted(1, doc.values[1])) content = static_cast<int>(doc.values[1]);
  char name[16];
  std::snprintf(name, sizeof name, "S%03d", content + 1);
  return (fs::path(file).parent_path() / ".." / name).lexically_normal().string();
}

void List(const std::string& file, const EnvDocument& doc) {
  const int have = static_cast<int>(doc.values.size());
  std::printf("# %s: %d of the %d numbers of a full parameter file\n", file.c_str(), have, kEnvItemCount);
  const int maxCountItem = FindEnvItem("MaxCount");
  for (int i = 0; i < kEnvBasicItems && i < have; ++i) {
    std::string note;
    if (i == maxCountItem) {
      const std::string folder = ContentFolderOf(file, doc);
      std::error_code ec;
      if (fs::is_directory(folder, ec)) {
        const int frames = CountContentFrames(folder);
        if (frames != static_cast<int>(doc.values[static_cast<size_t>(i)]))
          note = folder + " holds " + std::to_string(frames) + " frames";
      }
    }
    PrintItem(doc, i, note);
  }
  int empty = 0;
  for (int i = kEnvFirstKeyFrame; i < kEnvFirstExtra && i < have; ++i) {
    if (doc.values[static_cast<size_t>(i)] != 0.0)
      PrintItem(doc, i);
    else
      ++empty;
  }
  if (have > kEnvFirstKeyFrame) std::printf("# %d key frames are 0 (empty)\n", empty);
  for (int i = kEnvFirstExtra; i < have; ++i) PrintItem(doc, i);

  if (have < kEnvItemCount) {
    const std::string from = EnvItemName(have);
    if (doc.stoppedOnText) {
      const std::string bad = doc.text.substr(doc.stopOffset, 20);
      std::printf("# %s and every item after it: not a number here (\"%s\"); the player keeps its own values\n",
                  from.c_str(), bad.substr(0, bad.find_first_of("\r\n")).c_str());
    } else if (have < kEnvFirstExtra) {
      std::printf("# the file ends before %s: the player keeps its own values from there%s\n", from.c_str(),
                  have <= kEnvFirstKeyFrame ? "" : " (key frames 0)");
    } else if (have == kEnvFirstExtra) {
      std::printf("# StartFrameNum .. flip_mode: not in the file; the player uses 0 for all five\n");
    } else {
      std::printf("# the file ends before %s: the player keeps its own values from there\n", from.c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr,
                 "usage: orvante-env FILE [ITEM=VALUE ...]\n"
                 "  lists the player parameter file FILE (zav_env.dat, zav_env0001.dat, ...) item by item;\n"
                 "  with ITEM=VALUE (e.g. VR_step=0.5 'KeyFrameNumber[3]=120') sets those items.\n");
    return 2;
  }
  const std::string file = argv[1];
  EnvDocument doc;
  std::string err;
  if (!ReadEnvFile(file, &doc, &err)) {
    std::fprintf(stderr, "ERROR: cannot read %s: %s\n", file.c_str(), err.c_str());
    return 1;
  }
  if (argc == 2) {
    List(file, doc);
    return 0;
  }

  std::vector<std::pair<int, std::string>> items;
  int refused = 0;
  for (int a = 2; a < argc; ++a) {
    const std::string arg = argv[a];
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const int item = eq == std::string::npos ? -1 : FindEnvItem(name);
    if (item < 0) {
      std::fprintf(stderr, "REFUSED: %s: %s\n", arg.c_str(),
                   eq == std::string::npos ? "expected ITEM=VALUE"
                                           : "no such item (run 'orvante-env FILE' for the names)");
      ++refused;
      continue;
    }
    const std::string value = arg.substr(eq + 1);
    if (const std::string why = EnvValueRefusal(item, value); !why.empty()) {
      std::fprintf(stderr, "%s\n", why.c_str());
      ++refused;
    } else {
      items.emplace_back(item, value);
    }
  }
  if (refused) {
    std::fprintf(stderr, "%s is unchanged.\n", file.c_str());
    return 1;
  }
  std::vector<EnvChange> changes;
  std::vector<std::string> why;
  if (!WriteEnvItems(file, &doc, items, &changes, &why)) {
    for (const std::string& line : why) std::fprintf(stderr, "%s\n", line.c_str());
    return 1;
  }
  for (const EnvChange& c : changes)
    std::printf("SET: %s = %s (was %s)\n", EnvItemName(c.item).c_str(), c.now.c_str(), c.was.c_str());
  return 0;
}

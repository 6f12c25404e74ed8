// The command table against the charts that show its keys, both ways: every key a chart shows
// has a row flagged for that chart, and every row is shown where its flags say, or is marked
// hidden. The charts are read as they are shown: the console texts and the pause chart's cells.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../control/player_fixture.h"
#include "common/limits.h"
#include "control/control.h"
#include "control/installation.h"
#include "player/player_state.h"

using namespace orv;

namespace {

using KeySet = std::set<int>;

// Keys named in one key cell: "q", "v, V", "Z(,), X(.)", "e / d", "Z , / X .", "0 .. 7",
// "0 - 7", "ESC", "ENTER", "SPACE". A mouse cell names none. Any other word fails: a chart that
// grows a cell this reader does not know must be taught to it, not skipped.
KeySet KeysOfCell(std::string cell) {
  KeySet keys;
  if (cell == "mouse" || cell.find("button") != std::string::npos || cell.find("ボタン") != std::string::npos)
    return keys;
  for (char& c : cell)
    if (c == '(' || c == ')') c = ' ';
  std::vector<std::string> words;
  std::istringstream in(cell);
  for (std::string w; in >> w;) {
    if (w.size() > 1 && w.back() == ',') w.pop_back();  // "v, V": the comma parts two keys
    words.push_back(w);
  }
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "/") continue;
    if ((w == ".." || w == "-") && i > 0 && i + 1 < words.size()) {
      for (int k = words[i - 1][0] + 1; k < words[i + 1][0]; ++k) keys.insert(k);
    } else if (w == "ESC") {
      keys.insert(kKeyEsc);
    } else if (w == "ENTER" || w == "Enter") {
      keys.insert(kKeyEnter);
    } else if (w == "SPACE") {
      keys.insert(' ');
    } else if (w.size() == 1) {
      keys.insert(static_cast<unsigned char>(w[0]));
    } else {
      ADD_FAILURE() << "a key cell this test cannot read: [" << cell << "]";
    }
  }
  return keys;
}

// Keys of a console chart: the cell in brackets that starts a line at the key column (titles
// and continuation lines start elsewhere).
KeySet KeysOfConsoleChart(const std::string& text) {
  KeySet keys;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("     [", 0) != 0) continue;
    const size_t close = line.find(']');
    if (close == std::string::npos) continue;
    for (int k : KeysOfCell(line.substr(6, close - 6))) keys.insert(k);
  }
  return keys;
}

KeySet Flagged(unsigned flag) {
  KeySet keys;
  for (const Command& c : CommandTable())
    if (c.flags & flag) keys.insert(c.key);
  return keys;
}

std::string Names(const KeySet& keys) {
  std::string s;
  for (int k : keys)
    s += k == kKeyEsc ? "ESC " : k == kKeyEnter ? "ENTER " : k == ' ' ? "SPACE " : std::string(1, char(k)) + " ";
  return s;
}

struct CommandTableTest : orvtest::PlayerTest {
  // The function list and the learning-key list under it, as printed in the given language.
  std::pair<std::string, std::string> Lists(const char* lang) {
    const char* old = std::getenv("LC_ALL");
    const std::string saved = old ? old : "";
    setenv("LC_ALL", lang, 1);
    testing::internal::CaptureStdout();
    ShowFunctionList();
    const std::string out = testing::internal::GetCapturedStdout();
    old ? setenv("LC_ALL", saved.c_str(), 1) : unsetenv("LC_ALL");
    const size_t split = out.find("[ Gesture learning keys ]");
    EXPECT_NE(split, std::string::npos);
    return {out.substr(0, split), out.substr(split)};
  }
};

}  // namespace

TEST_F(CommandTableTest, EveryChartShowsExactlyTheKeysFlaggedForItAndEveryKeyIsShownOrHidden) {
  player.MotionCountOff = 0;  // H and B are listed while motion is counted
  for (const char* lang : {"C", "ja_JP.UTF-8"}) {
    SCOPED_TRACE(lang);
    const auto [list, learning] = Lists(lang);
    EXPECT_EQ(Names(KeysOfConsoleChart(list)), Names(Flagged(kInFunctionList)));
    EXPECT_EQ(Names(KeysOfConsoleChart(learning)), Names(Flagged(kInLearningKeys)));
  }
  KeySet chart;
  for (const KeyChartRow& r : KeyChartRows())
    for (const char* cell : {r.key1, r.key2})
      for (int k : KeysOfCell(cell)) chart.insert(k);
  EXPECT_EQ(Names(chart), Names(Flagged(kInPauseChart)));

  constexpr unsigned kShown = kInFunctionList | kInLearningKeys | kInPauseChart;
  KeySet rows;
  for (const Command& c : CommandTable()) {
    EXPECT_TRUE(rows.insert(c.key).second) << "two rows for key " << c.key;
    EXPECT_NE((c.flags & kShown) != 0, (c.flags & kHidden) != 0) << "key " << c.key << ": shown or hidden, not both";
    EXPECT_TRUE(IsCommandKey(c.key)) << c.key;
  }
  for (int k : {0, int('y'), int('8'), kNoKey}) EXPECT_FALSE(IsCommandKey(k)) << k;
}

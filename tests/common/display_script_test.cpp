#include <gtest/gtest.h>

#include "common/display.h"

using namespace orv;

namespace {
int clicks = 0;
void CountClick(int ev, int, int, int, void*) {
  if (ev == cv::EVENT_RBUTTONDOWN) ++clicks;
}
}  // namespace

TEST(HeadlessDisplay, ScriptEventsFireAtTheirCycle) {
  UseHeadlessDisplay();
  std::string err;
  ASSERT_TRUE(ParseScript("# rehearsal\n3 x\n1 RCLICK 10 20\n\n5 ESC\n5 #13\n", &display.hd.script, &err)) << err;
  DisplaySetMouse("ORVANTE  Ver.1.1", CountClick);
  display.cycle = 0;
  EXPECT_EQ(DisplayWaitKey(1), -1);
  display.cycle = 1;
  EXPECT_EQ(DisplayWaitKey(1), -1);
  EXPECT_EQ(clicks, 1);
  display.cycle = 4;
  EXPECT_EQ(DisplayWaitKey(1), 'x');
  EXPECT_EQ(DisplayWaitKey(0), 27);   // a blocking wait takes the next event early
  EXPECT_EQ(DisplayWaitKey(0), 13);
  EXPECT_EQ(DisplayWaitKey(0), 27);   // exhausted: ESC, never a hang
  EXPECT_EQ(DisplayWaitKey(1), -1);   // a driver of its own cycles gets "no key"

  // The player's own run: once the script is used up, any wait answers ESC.
  ASSERT_TRUE(ParseScript("7 j\n9 RCLICK\n", &display.hd.script, &err)) << err;
  display.hd.escWhenUsedUp = true;
  EXPECT_EQ(DisplayWaitKey(1), -1);   // events still to come
  display.cycle = 7;
  EXPECT_EQ(DisplayWaitKey(1), 'j');
  EXPECT_EQ(DisplayWaitKey(1000), -1);  // the click is not due yet
  display.cycle = 9;
  EXPECT_EQ(DisplayWaitKey(1), 27);   // the click fired, nothing is left
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(DisplayWaitKey(1), 27);
}

TEST(HeadlessDisplay, BadScriptLinesAreRejectedWithTheirNumber) {
  std::deque<ScriptEvent> ev;
  std::string err;
  EXPECT_FALSE(ParseScript("1 x\nfoo\n", &ev, &err));
  EXPECT_NE(err.find("line 2"), std::string::npos);
  EXPECT_FALSE(ParseScript("1 BOGUS\n", &ev, &err));
  EXPECT_FALSE(ParseScript("1 #300\n", &ev, &err));
}

TEST(HeadlessDisplay, KeyCodeFoldsLineFeedIntoEnter) {
  EXPECT_EQ(KeyCode(-1), 255);
  EXPECT_EQ(KeyCode(10), 13);
  EXPECT_EQ(KeyCode(0x100000 | 'q'), 'q');
}

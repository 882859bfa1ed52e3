// The About box's own loop, in this process and without a display.
#include <Events.h>

#include "about/AboutBox.h"
#include "tests/support/PluginResources.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>

namespace {

// "AbTo" waits 60 ticks from when the box was drawn. Across a wrap of the tick counter the
// wait must neither end at once nor last for ever.
TEST(AboutBox, TimeoutHoldsAcrossAWrapOfTheTickCounter) {
  unsetenv("DISPLAY");
  setenv("QUILLCAST_TIME_SCALE", "0.05", 1);
  ASSERT_TRUE(OpenPluginResources());
  ShowAboutDialog();
  ASSERT_NE(aboutDialog, nullptr);
  // As if the box had been drawn 10 ticks before the counter wraps.
  CarbonSetTickCount(0xFFFFFFFFu - 10);
  aboutStartTicks = TickCount();
  UInt32 start = aboutStartTicks;
  auto wait = std::async(std::launch::async, [] { WaitForAboutDialogJustClick(60); });
  if (wait.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    std::fputs("the About box never closed\n", stderr);
    std::_Exit(1);  // the loop cannot be stopped from outside
  }
  EXPECT_EQ(aboutDialog, nullptr);
  EXPECT_GT(UInt32(TickCount() - start), 60u);
}

}  // namespace

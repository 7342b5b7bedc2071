#include <gtest/gtest.h>

#include "app/disclaimer_dialog.h"

namespace qef {
namespace {

// Positions, ends and pages in lines, as a multi-line field counts them.
TEST(Disclaimer, ReadToTheEndWithin15LinesOrAtTheLastPosition) {
  struct Case {
    int pos, max, page;
    bool read;
  } cases[] = {
      {0, 0, 0, true},                              // nothing to scroll
      {0, 10, 16, true},                            // the whole text in view
      {0, 120, 16, false},                          // a long text, at its top
      {104, 120, 16, false}, {105, 120, 16, true},  // 15 lines from the last: the end of a 16-line view
      {100, 120, 21, true},                         // a taller view ends earlier than 15 lines from the last
      {99, 120, 21, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsScrolledToEnd(c.pos, c.max, c.page), c.read) << c.pos << " of " << c.max << ", page " << c.page;
}

}  // namespace
}  // namespace qef

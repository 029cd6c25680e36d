// The undo history on its own, with no window: each step gives the picture
// back as it was before its change, pixels and format, within the limit.
#include "wizard/UndoHistory.h"

#include <gtest/gtest.h>

using namespace ui;

namespace {

TEST(UndoHistory, KeepsTheNewestStepsWithinTheLimitAndStepsBackThroughThem) {
    TUndoHistory history;
    history.HistoryLimit = 2;
    TBitmap picture(4, 3, pf24bit);
    picture.Canvas().SetPixels(0, 0, RGB(1, 2, 3));
    history.PushHistory(picture);
    // The snapshot keeps its pixels while the picture changes.
    picture.Canvas().SetPixels(0, 0, RGB(4, 5, 6));
    history.PushHistory(picture);
    EXPECT_FALSE(history.EditsBeyondHistory());
    picture.SetPixelFormat(pf8bit);
    history.PushHistory(picture);
    picture.SetPixelFormat(pf1bit);
    EXPECT_EQ(history.size(), 2u);
    EXPECT_TRUE(history.EditsBeyondHistory()) << "the first step gave way";

    ASSERT_TRUE(history.StepBack(picture));
    EXPECT_EQ(picture.PixelFormat(), pf8bit);
    ASSERT_TRUE(history.StepBack(picture));
    EXPECT_EQ(picture.PixelFormat(), pf24bit);
    EXPECT_EQ(picture.PixelColor(0, 0), RGB(4, 5, 6));
    EXPECT_FALSE(history.StepBack(picture));
    EXPECT_TRUE(history.empty());

    // Below 1 no step is kept, but the edit is known to be beyond reach.
    TUndoHistory none;
    none.PushHistory(picture);
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(none.EditsBeyondHistory());
}

}  // namespace

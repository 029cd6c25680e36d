// Timers: ticks through the message loop, restart on a new interval, errors
// to the application's handler, and no tick after the end.
#include "ui/Timers.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

using namespace ui;
using namespace testing_support;

namespace {

// Pumps until a slower timer has ticked a few times, so that a faster one
// that still ran would have ticked too.
void PumpWhileSlowerTimerTicks(UINT interval) {
    TTimer slower;
    int ticks = 0;
    slower.OnTimer = [&] { ++ticks; };
    slower.SetInterval(interval);
    slower.SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }));
}

TEST(Timer, TicksUntilDisabledAndRestartsOnANewInterval) {
    RecordedErrors().clear();
    TTimer t;
    int ticks = 0;
    t.OnTimer = [&] { ++ticks; };
    t.SetInterval(60000);
    EXPECT_FALSE(t.Enabled());
    EXPECT_EQ(t.Handle(), nullptr);
    t.SetEnabled(true);
    // A minute would pass before the first tick; the new interval counts now.
    t.SetInterval(10);
    EXPECT_EQ(t.Interval(), 10u);
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }));

    t.SetEnabled(false);
    const int stopped = ticks;
    PumpWhileSlowerTimerTicks(40);
    EXPECT_EQ(ticks, stopped);
    t.SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return ticks > stopped; }));
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST(Timer, AnErrorGoesToTheApplicationAndTheTimerGoesOn) {
    RecordedErrors().clear();
    TTimer t;
    int ticks = 0;
    t.OnTimer = [&] {
        ++ticks;
        throw std::runtime_error("tick failed");
    };
    t.SetInterval(10);
    t.SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 2; }));
    t.SetEnabled(false);
    ASSERT_GE(RecordedErrors().size(), 2u);
    EXPECT_EQ(RecordedErrors().front(), "tick failed");
    RecordedErrors().clear();
}

TEST(Timer, DestroyingEndsItAlsoFromItsOwnHandler) {
    RecordedErrors().clear();
    auto t = std::make_unique<TTimer>();
    int ticks = 0;
    t->OnTimer = [&] {
        ++ticks;
        t.reset();
    };
    t->SetInterval(10);
    t->SetEnabled(true);
    const HWND wnd = t->Handle();
    ASSERT_TRUE(PumpUntil([&] { return !t; }));
    EXPECT_FALSE(::IsWindow(wnd));
    PumpWhileSlowerTimerTicks(40);
    EXPECT_EQ(ticks, 1);
    EXPECT_TRUE(RecordedErrors().empty());
}

}  // namespace

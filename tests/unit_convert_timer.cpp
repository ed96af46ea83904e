// Number conversions and the timer rules, on the virtual clock.
#include <gtest/gtest.h>

#include "base/convert.h"
#include "base/errors.h"
#include "base/virtual_clock.h"

namespace velmora {
namespace {

TEST(Convert, NumericTextAsUsersExpect) {
    for (const char* s : {"12", " 12 ", "-3", "+4", "1.5", ".5", "1e3", "32767"}) EXPECT_TRUE(isNumeric(s)) << s;
    for (const char* s : {"", " ", "abc", "12abc", "1.2.3", "-", ".", "inf", "nan", "0x10", "1e"})
        EXPECT_FALSE(isNumeric(s)) << s;
    EXPECT_DOUBLE_EQ(toDouble(" 1e3 "), 1000.0);
    EXPECT_THROW(toDouble("abc"), AppError);
    EXPECT_THROW(toSingle("1e40"), AppError);
    EXPECT_EQ(singleToText(8880.0f), "8880");
    EXPECT_EQ(singleToText(9.5f), "9.5");
}

// (Rounding to 16 and 32 bits, halves to even, and its overflow: the text fuzzer.)
TEST(Convert, TheCheckedProductOverflowsPast32Bits) {
    EXPECT_THROW(mul32(2, 1'500'000'000), AppError);
    EXPECT_EQ(mul32(2, 1'000'000'000), 2'000'000'000);
}

TEST(Timer, IntervalZeroNeverFiresAndEnablingRestarts) {
    VirtualClock clock;
    Timer timer(clock, "t", 100);
    std::vector<std::int64_t> ticks;
    timer.setHandler([&] { ticks.push_back(clock.now()); });
    timer.setInterval(0);
    timer.setEnabled(true);
    clock.advance(10'000);
    EXPECT_TRUE(ticks.empty());

    timer.setInterval(100);  // enabled timer: starts now
    clock.advance(250);
    EXPECT_EQ(ticks, (std::vector<std::int64_t>{10'100, 10'200}));

    timer.setEnabled(false);
    clock.advance(30);
    timer.setEnabled(true);  // a fresh interval from now (10'280)
    clock.advance(150);
    EXPECT_EQ(ticks.back(), 10'380);

    timer.setEnabled(true);  // already on: no restart
    clock.advance(100);
    EXPECT_EQ(ticks.back(), 10'480);
}

TEST(Timer, HandlersAreNeverReenteredAndDueTimersFireInOrder) {
    VirtualClock clock;
    Timer timer(clock, "t", 10);
    Timer other(clock, "o", 25);
    int depth = 0, maxDepth = 0, ticks = 0, otherTicks = 0;
    timer.setHandler([&] {
        ++ticks;
        maxDepth = std::max(maxDepth, ++depth);
        if (ticks == 1) clock.advance(50);  // a nested loop: e.g. a modal window open for 50 ms
        --depth;
    });
    other.setHandler([&] { ++otherTicks; });
    timer.setEnabled(true);
    other.setEnabled(true);
    clock.advance(10);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_EQ(otherTicks, 2);  // other timers go on firing meanwhile

    // Timers due at once fire in order; a handler may switch its own timer off.
    std::vector<std::string> order;
    Timer a(clock, "a", 30), b(clock, "b", 20);
    a.setHandler([&] { order.push_back("a"); });
    b.setHandler([&] {
        order.push_back("b");
        b.setEnabled(false);
    });
    timer.setEnabled(false);
    other.setEnabled(false);
    a.setEnabled(true);
    b.setEnabled(true);
    clock.advance(60);
    EXPECT_EQ(order, (std::vector<std::string>{"b", "a", "a"}));
}

}  // namespace
}  // namespace velmora

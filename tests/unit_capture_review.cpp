// The frame ring, review navigation and Copy Image, on the virtual clock.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "capture/opaque_rows.h"

#include "support/harness.h"

namespace velmora::testing {
namespace {

// Fills the client area with one colour per capture, so each slot tells which
// capture wrote it.
struct RingHarness : Harness {
    Pixel next = 1;
    bool picturesFlow = true;  // the player shows a new picture at each tick
    RingHarness() {
        frm.PlayTimer.setHandler([this] {
            if (picturesFlow && player.pictures >= 0) ++player.pictures;
            const Pixel c = next++;
            clientArea.fill([c](int, int) { return c; });
            frm.PlayTimer_Timer();
        });
    }
    Pixel slotColour(long slot) const { return frm.capturedImage[slot].pixels[0]; }
    // The slot the last capture wrote.
    const FrameSlot& newest() const { return frm.capturedImage[frm.mlCapturePos % 50 + 1]; }
    // The colour of the capture that frame `age` shows, with captures numbered from 1.
    Pixel shownColour() const {
        for (long i = 1; i <= 50; ++i)
            if (frm.oCaptured[i].visible()) return slotColour(i);
        return 0;
    }
};

TEST(Ring, CapturesWalkDownFromFiftyAndWrap) {
    RingHarness h;
    h.loadPlaying(100);
    EXPECT_EQ(h.slotColour(50), 1u);
    h.clock.advance(49 * 100);
    EXPECT_EQ(h.slotColour(1), 50u);
    h.clock.advance(100);
    EXPECT_EQ(h.slotColour(50), 51u);

    // Another video of the same size goes on in the same ring.
    h.player.openable["/videos/other.mp4"] = {320, 310};
    h.frm.OpenMedia("/videos/other.mp4");
    EXPECT_EQ(h.frm.mlCapturePos, 49);
    EXPECT_EQ(h.slotColour(50), 51u);

    h.frm.mnuViewPlay_Click();  // pause: age n is capture 51 - n + 1
    for (long age : {1L, 2L, 50L}) {
        h.frm.ShowImage(age);
        EXPECT_EQ(h.shownColour(), static_cast<Pixel>(52 - age)) << age;
        h.expectDisplayConsistent();
    }

    // A live source that shows no new pictures (its signal lost, its delay
    // gathered) plays on, but the ring keeps what it holds.
    h.frm.mnuViewPlay_Click();
    h.clock.advance(100);
    const long position = h.frm.mlCapturePos;
    h.player.held = true;
    h.clock.advance(1000);
    EXPECT_EQ(h.frm.mlCapturePos, position);
    h.player.held = false;
    h.clock.advance(100);
    EXPECT_EQ(h.frm.mlCapturePos, position - 1);

    // Nor does it fill with the picture that stays when a live source
    // stalls (its loss is noticed only seconds later): after half a second
    // without a new picture the captures wait for the next one.
    h.player.isLive = true;
    h.player.pictures = 0;
    h.clock.advance(300);
    const auto capturedSince = [&](long from) { return (from - h.frm.mlCapturePos + 50) % 50; };
    const long stalledAt = h.frm.mlCapturePos;
    const Pixel lastNew = h.slotColour(stalledAt % 50 + 1);
    h.picturesFlow = false;
    h.clock.advance(3000);
    EXPECT_EQ(capturedSince(stalledAt), 5);
    h.frm.mnuViewPlay_Click();
    h.frm.ShowImage(6);
    EXPECT_EQ(h.shownColour(), lastNew);
    h.frm.mnuViewPlay_Click();
    h.picturesFlow = true;
    h.clock.advance(100);
    EXPECT_EQ(capturedSince(stalledAt), 6);
}

TEST(Ring, SlotsFollowThePlayerAndStayWhenItsSizeDoesNot) {
    RingHarness h;
    h.player.openable["/tiny.mp4"] = {100, 70};
    h.loadPlaying(100);
    const Pixel* before = h.frm.capturedImage[50].pixels.get();
    h.frm.clientResized(900, 900);  // 100 %: the player keeps its size
    EXPECT_EQ(h.frm.capturedImage[50].pixels.get(), before);
    EXPECT_EQ(h.slotColour(50), 1u);

    h.frm.OpenMedia("/tiny.mp4");
    EXPECT_EQ(h.frm.oCaptured[7].height(), 0);
    EXPECT_EQ(h.frm.capturedImage[7].height, 0);
    h.clock.advance(300);  // captures into empty slots do not fail
    EXPECT_TRUE(h.desktop.boxes.empty());
}

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14
#endif

// Once the captures into new slots begin, the slots' pages are mapped in
// ahead of them by a thread of their own; what a capture writes in the
// meantime stays, and the pages of a slot dropped before then are left alone.
TEST(Slot, PagesAreMappedInAheadAndWhatIsWrittenStays) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    {
        void* probe = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        const bool supported = madvise(probe, page, MADV_POPULATE_WRITE) == 0;
        munmap(probe, page);
        if (!supported) GTEST_SKIP() << "the kernel cannot map pages in ahead";
    }
    const auto residentPages = [&](void* start, std::size_t bytes) {
        std::vector<unsigned char> resident((bytes + page - 1) / page);
        EXPECT_EQ(mincore(start, resident.size() * page, resident.data()), 0);
        return std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; });
    };
    std::vector<FrameSlot> slots(3);
    for (auto& s : slots) s.resize(640, 400);
    slots[2].resize(1000, 700);  // a new mapping, the old one's pages forgotten
    // Dropped, and its address taken by a mapping of somebody else's.
    void* const dropped = slots[1].pixels.get();
    const std::size_t droppedBytes = slots[1].bytes();
    slots[1].resize(0, 0);
    slots.erase(slots.begin() + 1);
    void* const other = mmap(dropped, droppedBytes, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    // A capture's first writes into one slot, before the thread begins.
    const auto written = [&](const FrameSlot& s, int x, int y) {
        return &s == &slots[0] && y % 7 == 0 && x == y % s.width;
    };
    for (int y = 0; y < slots[0].height; y += 7)
        slots[0].row(y)[y % slots[0].width] = 0xff000000u | static_cast<Pixel>(y);
    // Not before the captures begin: a paused video's ring takes no memory.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_TRUE(slotPagesPending());
    EXPECT_EQ(residentPages(slots[1].pixels.get(), slots[1].bytes()), 0);
    slots[0].settle(slots[0].width, slots[0].height);  // covered whole: writes nothing
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (slotPagesPending() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_FALSE(slotPagesPending());
    for (auto& s : slots) {
        EXPECT_EQ(residentPages(s.pixels.get(), s.bytes()),
                  static_cast<std::ptrdiff_t>((s.bytes() + page - 1) / page));
        EXPECT_GE(s.heldBytes(), s.bytes());
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x)
                ASSERT_EQ(s.row(y)[x], written(s, x, y) ? 0xff000000u | static_cast<Pixel>(y) : 0u)
                    << x << "," << y;
    }
    if (other == dropped) {
        EXPECT_EQ(residentPages(other, droppedBytes), 0);
        munmap(other, droppedBytes);
    }
}

// Slots that would not fit in memory are refused with one message (one per
// drag of a window in Fit mode through such sizes) and kept as they are;
// captures go on into them, and a size that fits gives every slot that size.
TEST(Ring, SlotsLargerThanTheMemoryAllowsAreRefusedOncePerDragAndKept) {
    RingHarness h;
    h.player.openable["/v/huge.mp4"] = {7680, 4390};  // 8K: 50 frames need 6.3 GB
    h.frm.availableMemory = [] { return std::uint64_t{4} << 30; };
    h.loadPlaying();
    h.frm.OpenMedia("/v/huge.mp4");
    ASSERT_EQ(h.desktop.boxes.size(), 1u);
    EXPECT_EQ(h.desktop.boxes[0].text.rfind("SetSnapshotRegion: Not enough memory to keep 50 frames of 7680 x 4320 "
                                            "pixels, line ",
                                            0),
              0u)
        << h.desktop.boxes[0].text;
    EXPECT_EQ(h.frm.capturedImage[50].width, 320);
    h.clock.advance(100);
    EXPECT_EQ(h.newest().pixels[0], h.next - 1);

    h.frm.OpenMedia("/videos/clip.avi");
    h.frm.mnuZoomFit_Click();
    h.frm.availableMemory = [] { return std::uint64_t{400} << 20; };
    h.frm.clientResized(1200, 1000);  // 50 slots of 1196 x 894: 214 MB
    h.clock.advance(5000);            // every slot written
    for (int drag = 2; drag <= 3; ++drag) {
        for (int w = 2400; w < 2700; w += 20) h.frm.clientResized(w, w - 800);
        EXPECT_EQ(h.desktop.boxes.size(), static_cast<std::size_t>(drag));
        EXPECT_EQ(h.frm.capturedImage[7].width, 1196);  // kept as they were
        h.clock.advance(100);
        EXPECT_EQ(h.newest().pixels[0], h.next - 1);
        h.frm.clientResized(1200, 1000);  // the drag ends at a size that fits
    }

    // Smaller slots give the memory of the large ones back.
    h.frm.clientResized(400, 300);
    std::size_t held = 0;
    for (long i = 1; i <= 50; ++i) held += h.frm.capturedImage[i].heldBytes();
    EXPECT_LT(held, 50u * 400 * 300 * 4);
    // The message paused the video: played again, the next capture lands in
    // a slot of the new size.
    ASSERT_EQ(h.player.state, play_state::kPaused);
    h.frm.mnuViewPlay_Click();
    h.clock.advance(100);
    EXPECT_EQ(h.newest().width, 396);
    EXPECT_EQ(h.newest().pixels[0], h.next - 1);

    // A slot left at another size (a resize that failed half-way) is brought
    // to the player's size by the next look at the sizes.
    h.frm.capturedImage[30].resize(5, 5);
    h.frm.oCaptured[30].setWidth(5);
    h.frm.SetSnapshotRegion();
    EXPECT_EQ(h.frm.capturedImage[30].width, 396);
}

TEST(Ring, PauseAfterCaptureStopsTheVideoWithOneMoreFrame) {
    Playing h;
    h.frm.SpeedScrollBar.setValue(1);
    h.frm.SpeedScrollBar_Change();
    h.frm.mbPauseAfterCapture = true;
    h.clock.advance(1000);  // the pending step decides, not the slow speed: nothing plays on
    EXPECT_EQ(h.player.state, play_state::kPaused);
    EXPECT_EQ(h.frm.mlCapturePos, 49);
}

TEST(ReviewLabel, AgeTimesTheIntervalsInForceCutToFourCharacters) {
    struct Row {
        int interval, speed;
        long age;
        const char* label;
    };
    for (const Row& r : {Row{100, 0, 1, "-0.1 sec"}, Row{100, 0, 12, "-1.2 sec"}, Row{50, 0, 1, "-0.0 sec"},
                         Row{50, 0, 3, "-0.1 sec"}, Row{500, 0, 25, "-12. sec"}, Row{500, 0, 50, "-25 sec"},
                         Row{100, 1, 1, "-0.3 sec"}, Row{500, 2, 50, "-125 sec"}}) {
        Harness h;
        h.load();
        h.frm.PlayTimer.setInterval(r.interval);
        h.frm.SpeedScrollBar.setValue(r.speed);
        h.frm.SpeedScrollBar_Change();
        h.frm.ShowImage(r.age);
        EXPECT_EQ(h.frm.lblReviewTime.caption(), r.label) << r.interval << " " << r.age;
    }
    Harness comma;
    comma.load();
    comma.frm.decimalSeparator = ",";
    comma.frm.ShowImage(12);
    EXPECT_EQ(comma.frm.lblReviewTime.caption(), "-1,2 sec");
}

TEST(Review, HoldingBackStepsAtTheCaptureRateAndStopsAtTheOldest) {
    Playing h(1000);
    h.frm.cmdReview_MouseDown(mouse::Left, 0, 100, 100);
    EXPECT_EQ(h.frm.mlFrameAge, 1);
    EXPECT_EQ(h.player.state, play_state::kPaused);
    EXPECT_EQ(h.frm.cmdPlay.value(), 0);
    EXPECT_EQ(h.frm.cmdReview.value(), kReviewBack);
    h.expectDisplayConsistent();
    EXPECT_EQ(h.agesAfter({199, 1, 100, 100 * 60}), (std::vector<long>{1, 2, 3, 50}));
    h.frm.cmdReview_MouseUp();
    EXPECT_EQ(h.frm.mlFrameAge, 50);
    EXPECT_EQ(h.frm.cmdReview.value(), kReviewIdle);
    h.expectDisplayConsistent();
    EXPECT_EQ(h.frm.mlCapturePos, 40);  // the ring did not move while reviewing
}

TEST(Review, FiftyMillisecondsWaitsTwoTicksBeforeRepeating) {
    Harness h;
    h.settings.values["FrameTime"] = "0";
    h.loadPlaying();
    h.frm.Form_KeyDown(key::F5, 0);
    EXPECT_EQ(h.agesAfter({149, 1, 50}), (std::vector<long>{1, 2, 3}));
}

TEST(Review, ForwardFromTheNewestPlaysOneIntervalThenPausesAgain) {
    Playing h(500);
    h.frm.Form_KeyDown(key::F5, 0);
    h.frm.Form_KeyUp(key::F5, 0);
    ASSERT_EQ(h.frm.mlFrameAge, 1);
    const long pos = h.frm.mlCapturePos;
    h.clock.advance(300);
    h.frm.cmdReview_MouseDown(mouse::Right, 0, 0, 0);  // held
    EXPECT_TRUE(h.frm.mbPauseAfterCapture);
    EXPECT_EQ(h.player.state, play_state::kPlaying);
    EXPECT_TRUE(h.frm.oMediaPlayer.visible());
    h.clock.advance(100);
    EXPECT_EQ(h.player.state, play_state::kPaused);
    EXPECT_EQ(h.frm.mlCapturePos, pos - 1);
    const int plays = h.player.count("play");
    h.clock.advance(1000);  // holding does not repeat it
    EXPECT_EQ(h.frm.mlCapturePos, pos - 1);
    EXPECT_EQ(h.player.count("play"), plays);
}

// The other button during a press, or a left click on the shown frame.
TEST(Review, BackToTheLiveVideo) {
    Playing h(500);
    h.frm.cmdReview_MouseDown(mouse::Left, 0, 0, 0);
    h.clock.advance(250);
    h.frm.cmdReview_MouseDown(mouse::Right, 0, 0, 0);
    EXPECT_EQ(h.player.state, play_state::kPlaying);
    EXPECT_TRUE(h.frm.oMediaPlayer.visible());
    EXPECT_FALSE(h.frm.ReviewTimer.enabled());
    h.expectDisplayConsistent();
    EXPECT_EQ(h.frm.mlReviewDirection, 1);  // until the release
    h.frm.cmdReview_MouseUp();
    EXPECT_EQ(h.frm.mlReviewDirection, 0);

    h.frm.mnuViewPrev_Click();
    const long shown = h.frm.mlCapturePos % 50 + 1;
    h.frm.oCaptured_MouseDown(shown, mouse::Right, 0, 0, 0);
    EXPECT_EQ(h.player.state, play_state::kPaused);
    h.frm.oCaptured_MouseDown(shown, mouse::Left, 0, 0, 0);
    EXPECT_EQ(h.player.state, play_state::kPlaying);
    EXPECT_TRUE(h.frm.oMediaPlayer.visible());
    h.expectDisplayConsistent();
}

TEST(Review, APressWhileTheMenuStepTimerRunsWaitsForIt) {
    Playing h(500);
    h.frm.mnuViewPrev_Click();
    EXPECT_EQ(h.frm.mlFrameAge, 1);
    EXPECT_EQ(h.view.focus.back(), Ctl::cmdReview);
    h.clock.advance(50);
    h.frm.cmdReview_MouseDown(mouse::Left, 0, 0, 0);
    // No step at once; the first expiry counts the delay down.
    EXPECT_EQ(h.agesAfter({0, 50, 100}), (std::vector<long>{1, 1, 2}));

    Playing released(500);
    released.frm.mnuViewNext_Click();  // at the live video: one forward interval, no focus move
    EXPECT_TRUE(released.view.focus.empty());
    released.clock.advance(100);
    released.frm.mnuViewPrev_Click();
    released.frm.cmdReview_MouseDown(mouse::Left, 0, 0, 0);
    released.frm.cmdReview_MouseUp();
    released.clock.advance(1000);
    EXPECT_EQ(released.frm.mlFrameAge, 1);  // released before the timer expired: no step
}

TEST(Review, KeysStepOnPressAndAutoRepeatAddsNothing) {
    Playing h(1000);
    h.frm.Form_KeyDown(key::F5, 1);  // Shift+F5 acts as F5
    EXPECT_EQ(h.frm.mlFrameAge, 1);
    for (int i = 0; i < 10; ++i) {  // the keyboard repeats every 30 ms
        h.clock.advance(30);
        h.frm.Form_KeyDown(key::F5, 0);
    }
    EXPECT_EQ(h.frm.mlFrameAge, 3);  // at 200 and 300 ms, from the timer alone
    h.frm.Form_KeyUp(key::F5, 0);
    EXPECT_EQ(h.agesAfter({1000, 1}), (std::vector<long>{3, 3}));
    h.frm.Form_KeyDown(key::F6, 0);
    EXPECT_EQ(h.frm.mlFrameAge, 2);
    h.frm.Form_KeyUp('A', 0);  // any key ends the press
    EXPECT_EQ(h.frm.mlReviewDirection, 0);

    // With the button disabled F5 is reported; the menu ignores the focus failure and steps.
    Harness disabled;
    disabled.load();
    disabled.frm.cmdReview.setEnabled(false);
    disabled.frm.Form_KeyDown(key::F5, 0);
    EXPECT_EQ(disabled.desktop.boxes.size(), 1u);
    EXPECT_EQ(disabled.frm.mlFrameAge, 0);
    disabled.frm.mnuViewPrev_Click();
    EXPECT_EQ(disabled.frm.mlFrameAge, 1);
}

TEST(Copy, TheShownFrameOrTheNewestCapture) {
    // Before any capture, age 1 is slot 1, empty.
    Harness empty;
    empty.load();
    empty.frm.ShowImage(1);
    EXPECT_TRUE(empty.frm.oCaptured[1].visible());
    empty.desktop.clipboardCleared = false;
    empty.frm.ShowImage(0);
    empty.frm.mnuToolsCopy_Click();  // k = 51 -> 1
    EXPECT_TRUE(empty.desktop.clipboardCleared);
    EXPECT_EQ(empty.desktop.clipboardPixels.front(), kSlotBackground);

    RingHarness h;
    h.loadPlaying(1000);  // captures 1..10
    h.frm.mnuToolsCopy_Click();
    EXPECT_EQ(h.desktop.clipboardPixels.front(), 10u);
    EXPECT_EQ(h.desktop.clipboardWidth, 320);
    EXPECT_EQ(h.desktop.clipboardHeight, 240);
    h.frm.mnuViewPlay_Click();
    for (int i = 0; i < 7; ++i) h.frm.mnuViewPrev_Click(), h.clock.advance(300);
    ASSERT_EQ(h.frm.mlFrameAge, 7);
    h.frm.mnuToolsCopy_Click();
    EXPECT_EQ(h.desktop.clipboardPixels.front(), 4u);

    h.desktop.failClipboard = true;
    h.frm.mnuToolsCopy_Click();
    ASSERT_EQ(h.desktop.boxes.size(), 1u);
    EXPECT_EQ(h.desktop.boxes[0].text.rfind("mnuToolsCopy_Click: Cannot open clipboard, line ", 0), 0u);
    EXPECT_EQ(h.frm.mlFrameAge, 7);
}

// Rows of every alignment on both sides, with a tail shorter than a vector
// and rows back to back: each pixel arrives with alpha 0xff, nothing around it
// is touched, in both kinds of stores.
TEST(OpaqueRows, EveryAlignmentAndWidthArrivesExactlyAndOpaque) {
    for (SlotStores stores : {SlotStores::Cached, SlotStores::Streamed}) {
        for (int width : {1, 7, 9, 33, 100}) {
            for (int shift = 0; shift < 8; ++shift) {
                const int rows = 3, toStride = width + 9, fromStride = width + shift;
                std::vector<Pixel> from(static_cast<std::size_t>(fromStride * rows + 8));
                for (std::size_t i = 0; i < from.size(); ++i) from[i] = (i * 0x01050307u) & 0x80ffffffu;
                std::vector<Pixel> to(static_cast<std::size_t>(toStride * rows + 8), 0x12345678u);
                const auto* src = reinterpret_cast<const std::uint8_t*>(from.data() + shift);
                copyOpaqueRows(to.data() + 7 - shift, static_cast<std::size_t>(toStride), src,
                               static_cast<std::size_t>(fromStride) * 4, width, rows, stores);
                for (int i = 0; i < static_cast<int>(to.size()); ++i) {
                    const int y = (i - 7 + shift) / toStride, x = (i - 7 + shift) - y * toStride;
                    const bool copied = i >= 7 - shift && y < rows && x < width;
                    ASSERT_EQ(to[i], copied ? from[shift + y * fromStride + x] | 0xff000000u : 0x12345678u)
                        << "stores " << static_cast<int>(stores) << " width " << width << " shift " << shift;
                }
            }
        }
        std::vector<Pixel> from(64 * 5, 0x00102030u), to(64 * 5);
        copyOpaqueRows(to.data(), 64, reinterpret_cast<const std::uint8_t*>(from.data()), 64 * 4, 64, 5, stores);
        EXPECT_EQ(std::count(to.begin(), to.end(), 0xff102030u), 64 * 5);
    }
}

}  // namespace
}  // namespace velmora::testing

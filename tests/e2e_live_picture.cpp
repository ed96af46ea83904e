// The real program on a live HTTP stream under its own X server, where the
// frames are drawn straight into the window: when the sender goes away the
// last picture stays on the screen, also after a review and play while the
// program tries to reconnect, and the stream comes back by itself.
#include <gtest/gtest.h>

#include "support/files.h"
#include "support/frame_number.h"
#include "support/live_sender.h"
#include "support/x_session.h"

namespace velmora::testing {
namespace {

constexpr int kWaitMs = 30000;

TEST(LiveProgram, TheLastPictureStaysWhileTheSignalIsLostThroughReviewAndPlay) {
    XServer server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    XSession x(server.display());
    ASSERT_TRUE(x.ok());
    LiveSender sender(LiveSender::Protocol::Http);
    ASSERT_TRUE(sender.start()) << sender.log();
    TempDir home("live-picture");
    Child app;
    ASSERT_TRUE(
        app.start({std::getenv("VELMORA_BIN"), sender.url()},
                  {"DISPLAY=" + server.display(), "QT_QPA_PLATFORM=xcb", "VELMORA_AO=null",
                   "HOME=" + home.path.string(), "XDG_CONFIG_HOME=" + (home.path / "config").string()},
                  home.path, (home.path / "stderr.txt").string()));
    // The window, and the number in the top row of its picture.
    Window window = 0;
    int px = -1, py = -1;
    ASSERT_TRUE(pollUntil(
        [&] {
            for (const auto& t : x.windowsOf(app.pid()))
                if (t.name.rfind("Velmora - ", 0) == 0) window = t.id;
            const QImage shot = window ? x.grab(window, 0, 0, 400, 200) : QImage();
            for (int y = 20; y + 32 <= shot.height() && px < 0; ++y)
                for (int x0 = 0; x0 + 320 <= shot.width() && px < 0; ++x0)
                    if (stripNumber(shot, x0, y) > 0) px = x0, py = y;
            return px >= 0;
        },
        kWaitMs, std::chrono::milliseconds(50)))
        << readAll(home.path / "stderr.txt");
    const auto shown = [&] { return stripNumber(x.grab(window, px, py, 320, 32), 0, 0); };
    // The sender gone (the end noticed at once, every reconnect failing): the picture stands still.
    sender.stop();
    int last = -1;
    ASSERT_TRUE(pollUntil(
        [&] {
            const int before = shown();
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            return (last = shown()) == before && last > 0;
        },
        kWaitMs));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // Review one frame back and play on: the last picture, not mpv's black.
    x.focus(window);
    x.tap(XK_F5);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    x.tap(XK_F7);
    // (The ring holds the frames before the loss: the one reviewed may be a few older.)
    for (int i = 0; i < 10; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(150))) {
        const int now = shown();
        EXPECT_TRUE(now > 0 && framesBetween(now, last) < 10)
            << "look " << i << " after play: " << now << ", last before the loss " << last << ", a moment later "
            << shown() << "\n"
            << readAll(home.path / "stderr.txt");
    }
    ASSERT_TRUE(sender.start()) << sender.log();
    EXPECT_TRUE(pollUntil([&] { return shown() != last && shown() >= 0; }, kWaitMs)) << "no picture again";
    EXPECT_TRUE(app.running());
}

}  // namespace
}  // namespace velmora::testing

// The libmpv player on a live stream of the numbered clip sent by ffmpeg over
// HTTP on 127.0.0.1: an open nobody answers, and seeking back within what was
// received.  (Playing, review, the jump back, Go Live and the lost signal are
// followed through the whole program in ui_e2e_live.cpp.)
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "playback/mpv_player.h"
#include "support/event_loop.h"
#include "support/frame_number.h"
#include "support/live_sender.h"

namespace velmora {
namespace {

using testing::frameNumber;
using testing::LiveSender;
using testing::spin;
using testing::waitUntil;

struct LivePlayer {
    std::unique_ptr<MpvPlayer> player = std::make_unique<MpvPlayer>(nullptr, MpvOptions{"null"});
    int closed = 0;

    LivePlayer() {
        player->onOpenStateChange = [this](int, int to) { closed += to != open_state::kMediaOpen; };
        player->resize(320, 240 + kControlStripHeight);
        player->show();
    }
    bool open(const std::string& url) {
        const SourceChoice choice = classifySource(url);
        return choice.ok() && player->setLiveSource(choice.source, liveOptions(choice.source, LiveBuffer{}, nullptr));
    }
    int shown() { return frameNumber(player->videoImage()); }
    std::string text() { return player->session().liveText(); }
};

TEST(MpvLive, HttpOpenNobodyAnswersFailsAndSeeksBackOnlyWithinWhatWasReceived) {
    LiveSender sender(LiveSender::Protocol::Http);
    LivePlayer live;
    // Nobody listens yet: the open fails at once and names the address.
    EXPECT_TRUE(live.open(sender.url()));
    EXPECT_EQ(live.player->playState(), play_state::kNoMedia);
    EXPECT_NE(live.player->errorDescription().find(sender.url()), std::string::npos)
        << live.player->errorDescription();
    EXPECT_FALSE(live.player->live());

    ASSERT_TRUE(sender.start()) << sender.log();
    ASSERT_TRUE(live.open(sender.url())) << live.player->errorDescription();
    ASSERT_EQ(live.player->playState(), play_state::kPlaying) << live.player->errorDescription();
    EXPECT_TRUE(live.player->live());
    EXPECT_EQ(live.player->fileName(), sender.url());
    ASSERT_TRUE(waitUntil([&] { return live.shown() >= 0; }, 3000));
    spin(4000);

    // Back further than received: the oldest point held, never an error.
    live.player->setCurrentPosition(live.player->currentPosition() - 8);
    ASSERT_TRUE(waitUntil([&] { return live.shown() >= 0 && live.shown() < 15; }, 3000)) << live.shown();
    spin(500);
    EXPECT_EQ(live.player->playState(), play_state::kPlaying);
    EXPECT_TRUE(live.text().starts_with("-")) << live.text();
    const double behind = std::stod(live.text().substr(1));
    EXPECT_GT(behind, 3.0);
    EXPECT_LT(behind, 6.0);
    EXPECT_EQ(live.closed, 0);
}

}  // namespace
}  // namespace velmora

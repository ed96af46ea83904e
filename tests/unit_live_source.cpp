// What a name opens as, how a live source is played, the cameras (on devices
// answered from a table), and opening them from the window.
#include <gtest/gtest.h>

#include <filesystem>

#include "playback/camera_devices.h"
#include "playback/live_feed.h"
#include "playback/media_source.h"
#include "support/fake_video_devices.h"
#include "support/harness.h"

namespace velmora::testing {
namespace {

TEST(Source, NamesOpenAsStreamsCamerasOrAbsoluteFilesAndEverythingElseIsRefused) {
    const std::string cwd = std::filesystem::current_path().string();
    const struct { const char* name; SourceKind kind; std::string location, caption; } cases[] = {
        {"http://127.0.0.1:8080/live.ts", SourceKind::Stream, "http://127.0.0.1:8080/live.ts", "127.0.0.1:8080/live.ts"},
        // No user, password or query in the caption.
        {"HTTPS://me:pw@cam.example/a.m3u8?t=x", SourceKind::Stream, "https://me:pw@cam.example/a.m3u8?t=x",
         "cam.example/a.m3u8"},
        {"\"rtmp://host/app/key\"", SourceKind::Stream, "rtmp://host/app/key", "host/app/key"},
        {"rtsp://[::1]:8554/cam", SourceKind::Stream, "rtsp://[::1]:8554/cam", "[::1]:8554/cam"},
        {"srt://:9000?mode=listener", SourceKind::Stream, "srt://:9000?mode=listener", "srt://:9000"},
        {"/dev/video3", SourceKind::Camera, "/dev/video3", "/dev/video3"},
        {"file:///tmp/My%20Clip.mp4", SourceKind::File, "/tmp/My Clip.mp4", "/tmp/My Clip.mp4"},
        // What is a protocol to the player without "://" is a file here.
        {"concat:a.ts|b.ts", SourceKind::File, cwd + "/concat:a.ts|b.ts", cwd + "/concat:a.ts|b.ts"},
    };
    for (const auto& c : cases) {
        const SourceChoice choice = classifySource(c.name);
        ASSERT_TRUE(choice.ok()) << c.name << ": " << choice.refusal;
        EXPECT_EQ(choice.source.kind, c.kind) << c.name;
        EXPECT_EQ(choice.source.location, c.location) << c.name;
        EXPECT_EQ(sourceCaption(choice.source), c.caption) << c.name;
    }
    // Everything else is refused, naming what opens.
    const std::pair<const char*, const char*> refused[] = {
        {"av://v4l2:/dev/video0", "Velmora does not open av:// addresses."},
        {"velmora-feed://1", "Velmora does not open velmora-feed:// addresses."},
        {"EDL://a.mp4", "Velmora does not open edl:// addresses."},
        {"file://server/share/x.mp4", "Only local files open from a file:// address."},
        {"http://host/x.ts\n--vf=x", "The address holds a space or a control character."},
        {"rtsp://host:99999/cam", "The address has no valid host or port."},
        {"http://[::1/x", "The address has no valid host or port."},
        {"http://h\xc3\xb6st/x", "The address has no valid host or port."},
        {"http:///x.ts", "The address names no host."},
        {"udp://", "The address names no host."},
    };
    for (const auto& [name, reason] : refused)
        EXPECT_EQ(classifySource(name).refusal, std::string(reason) + " " + whatOpens()) << name;
}

std::string optionValue(const std::vector<PlayerOption>& options, const std::string& name) {
    const auto it = std::find_if(options.begin(), options.end(), [&](auto& o) { return o.name == name; });
    return it == options.end() ? "(none)" : it->value;
}

TEST(Source, LiveSourcesPlayAtOnceFromABoundedCache) {
    EXPECT_TRUE(liveOptions(classifySource("/v/clip.mp4").source, {}, nullptr).empty());
    const LiveBuffer buffer{1000, 2000, 7};
    const auto http = liveOptions(classifySource("http://h/live.m3u8").source, buffer, nullptr);
    // (The cache's seeking, the addresses allowed and the time-out: the end-to-end live tests.)
    for (const auto& [name, value] : {std::pair{"cache-pause", "no"}, {"cache-pause-initial", "no"}, {"vd-lavc-threads", "1"},
                                      {"demuxer-max-bytes", "1000"}, {"demuxer-max-back-bytes", "2000"}})
        EXPECT_EQ(optionValue(http, name), value) << name;
    const CameraSettings mjpeg{"mjpeg", 1280, 720, 30000, 1001};
    const auto camera = liveOptions(classifySource("/dev/video0").source, buffer, &mjpeg);
    EXPECT_EQ(optionValue(camera, "demuxer-lavf-o"),
              "fflags=+nobuffer,input_format=mjpeg,video_size=1280x720,framerate=30000/1001");
    EXPECT_EQ(optionValue(camera, "network-timeout"), "(none)");
    EXPECT_EQ(optionValue(camera, "demuxer-max-back-bytes"), std::to_string(kFeedCacheBytes));  // kept encoded
    // Lengths in bytes keep commas, brackets and equals signs inside a value.
    EXPECT_EQ(playerOptionList({{"a", "x=1,y=[2,3]"}, {"b", "\xc3\xa9"}}), "a=%11%x=1,y=[2,3],b=%2%\xc3\xa9");
}

TEST(Source, RawAndMjpegCamerasAreEncodedFirstAndH264CamerasReadDirectly) {
    const MediaSource camera = classifySource("/dev/video2").source;
    const CameraSettings mjpeg{"mjpeg", 1920, 1080, 30, 1}, h264{"h264", 1920, 1080, 30, 1};
    const auto options = liveOptions(camera, {}, &mjpeg);
    const CameraFeed feed = cameraFeed(camera, options, nullptr, true);
    ASSERT_TRUE(feed.encoded);
    EXPECT_EQ(feed.input, (CaptureInput{"video4linux2", "/dev/video2",
                                        {{"input_format", "mjpeg"}, {"video_size", "1920x1080"}, {"framerate", "30/1"}}}));
    // The player reads MPEG-TS, otherwise as any live stream.
    EXPECT_EQ(optionValue(feed.playerOptions, "demuxer-lavf-o"), "fflags=+nobuffer");
    EXPECT_EQ(optionValue(feed.playerOptions, "demuxer-lavf-format"), "mpegts");
    const auto direct = cameraFeed(camera, liveOptions(camera, {}, &h264), nullptr, true);
    EXPECT_FALSE(direct.encoded);
    EXPECT_EQ(direct.directTarget, "av://v4l2:/dev/video2");
    EXPECT_EQ(direct.playerOptions, liveOptions(camera, {}, &h264));
    // A stand-in set by code replaces the device and leaves its mode out.
    const CaptureInput standIn{"lavfi", "testsrc2", {}};
    EXPECT_EQ(cameraFeed(camera, options, &standIn, true).input, standIn);
    const auto raw = cameraFeed(camera, options, &standIn, false);
    EXPECT_EQ(raw.directTarget, "av://lavfi:testsrc2");
    EXPECT_EQ(optionValue(raw.playerOptions, "demuxer-lavf-o"), "fflags=+nobuffer");
}

constexpr std::uint32_t kMjpg = V4L2_PIX_FMT_MJPEG, kYuyv = V4L2_PIX_FMT_YUYV, kH264 = V4L2_PIX_FMT_H264;

FakeVideoDevices someDevices() {
    FakeVideoDevices d;
    d.devices["/dev/video0"] = {"HD Webcam",
                                {{kYuyv, {{640, 480, {30}}, {1920, 1080, {5}}}},
                                 {kMjpg, {{1920, 1080, {30, 15}}, {1280, 720, {60, 30}}}},
                                 {V4L2_PIX_FMT_RGB24, {{640, 480, {30}}}, V4L2_FMT_FLAG_EMULATED},  // not the device's
                                 {v4l2_fourcc('Z', 'Z', 'Z', 'Z'), {{640, 480, {30}}}}}};           // unknown here
    d.devices["/dev/video1"] = {"HD Webcam", {}, V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING};
    constexpr std::uint32_t kCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    d.devices["/dev/video2"] = {"Busy Cam", {{kYuyv, {{640, 480, {30}}}}}, kCaps, 0, true};
    d.devices["/dev/video3"] = {"Locked Cam", {}, kCaps, EACCES};
    d.devices["/dev/video4"] = {"Range Cam", {{kMjpg, {}}}};
    return d;
}

CameraMode mode(std::uint32_t f, int w, int h, int fps) { return {f, w, h, 1, fps}; }

TEST(Camera, ListsDevicesAndModesSaysWhyOneCannotBeOpenedClosesThemAndChoosesAMode) {
    FakeVideoDevices d = someDevices();
    const std::vector<Camera> cameras = listCameras(d);
    ASSERT_EQ(cameras.size(), 3u);  // no metadata node, none that may not be opened
    EXPECT_EQ(cameras[0].name, "HD Webcam");
    EXPECT_FALSE(cameras[0].busy);
    EXPECT_EQ(cameras[0].modes, (std::vector<CameraMode>{mode(kYuyv, 640, 480, 30), mode(kYuyv, 1920, 1080, 5),
                                                         mode(kMjpg, 1920, 1080, 30), mode(kMjpg, 1920, 1080, 15),
                                                         mode(kMjpg, 1280, 720, 60), mode(kMjpg, 1280, 720, 30)}));
    EXPECT_EQ(modesSummary(cameras[0].modes), "1920 \u00d7 1080, 1280 \u00d7 720, 640 \u00d7 480 at 5 to 60 fps");
    EXPECT_TRUE(cameras[1].busy);
    // A range offers the common sizes and rates within it.
    EXPECT_EQ(modesSummary(cameras[2].modes),
              "1920 \u00d7 1080, 1280 \u00d7 960, 1280 \u00d7 720, 1024 \u00d7 768, ... at 5 to 60 fps");
    EXPECT_EQ(chooseMode(cameras[2].modes), mode(kMjpg, 1920, 1080, 30));
    // Why one cannot be opened.
    const std::string inUse = " is in use by another program. Close that program, then open the camera again.";
    EXPECT_EQ(cameraProblem(d, "/dev/video0"), "");
    EXPECT_EQ(cameraProblem(d, "/dev/video2"), "The camera \"Busy Cam\"" + inUse);
    EXPECT_EQ(cameraProblem(d, "/dev/video9"), "There is no camera at /dev/video9: it may have been unplugged.");
    EXPECT_EQ(cameraProblem(d, "/dev/video1"), "/dev/video1 is not a camera.");
    EXPECT_EQ(cameraProblem(d, "/dev/video3"),
              "Velmora may not use the camera at /dev/video3 (permission denied). The user needs to be a member of "
              "the \"video\" group.");
    d.devices["/dev/video0"].openError = EBUSY;
    EXPECT_EQ(cameraProblem(d, "/dev/video0"), "The camera at /dev/video0" + inUse);
    EXPECT_TRUE(d.openFds.empty());
    // The mode chosen: MJPEG up to full HD at 25 to 30 fps first.
    const struct { std::vector<CameraMode> modes; CameraMode chosen; } cases[] = {
        {cameras[0].modes, mode(kMjpg, 1920, 1080, 30)},
        // Raw only: the largest size that reaches 25 fps; none does: the largest.
        {{mode(kYuyv, 1920, 1080, 5), mode(kYuyv, 1280, 720, 10), mode(kYuyv, 640, 480, 30)}, mode(kYuyv, 640, 480, 30)},
        {{mode(kYuyv, 640, 480, 15), mode(kYuyv, 1280, 720, 10)}, mode(kYuyv, 1280, 720, 10)},
        // MJPEG even when smaller; otherwise compressed before raw.
        {{mode(kH264, 1920, 1080, 30), mode(kMjpg, 1280, 720, 30)}, mode(kMjpg, 1280, 720, 30)},
        {{mode(kYuyv, 1920, 1080, 30), mode(kH264, 1920, 1080, 30)}, mode(kH264, 1920, 1080, 30)},
        // Larger than full HD only: the smallest.
        {{mode(kMjpg, 3840, 2160, 30), mode(kMjpg, 2560, 1440, 30)}, mode(kMjpg, 2560, 1440, 30)},
        // Rates: 25 to 30 first, then the lowest above, then the highest below.
        {{mode(kMjpg, 640, 480, 60), mode(kMjpg, 640, 480, 25), mode(kMjpg, 640, 480, 30)}, mode(kMjpg, 640, 480, 30)},
        {{mode(kMjpg, 640, 480, 60), mode(kMjpg, 640, 480, 50)}, mode(kMjpg, 640, 480, 50)},
        {{mode(kYuyv, 640, 480, 10), mode(kYuyv, 640, 480, 15)}, mode(kYuyv, 640, 480, 15)},
    };
    for (const auto& c : cases) EXPECT_EQ(chooseMode(c.modes), c.chosen) << modeText(c.chosen);
    EXPECT_FALSE(chooseMode({}));
    EXPECT_EQ(modeText({kYuyv, 640, 480, 1001, 30000}), "640 \u00d7 480, 29.97 fps, YUYV");
    for (const char* bad : {"", "MJPG", "MJPG 0x480 1/30", "MJPG 640x480 1/0", "MJPG 640x480 1/30 x"})
        EXPECT_FALSE(modeFromKey(bad)) << bad;
}

struct FakeLiveDialogs : LiveDialogsPort {
    std::vector<std::string> asked;  // "stream:<last>", "camera:<index>:<mode>"
    std::optional<std::string> address;
    std::optional<CameraChoice> camera;
    std::optional<int> delay;
    template <typename T>
    T ask(const std::string& what, T answer) { return asked.push_back(what), answer; }
    std::optional<std::string> askStreamAddress(const std::string& last) override {
        return ask("stream:" + last, address);
    }
    std::optional<CameraChoice> askCamera(const std::vector<Camera>&, const CameraChoice& selected) override {
        return ask("camera:" + std::to_string(selected.camera) + ":" + modeKey(selected.mode), camera);
    }
    std::optional<int> askDelay(int seconds, bool liveOpen) override {
        return ask("delay:" + std::to_string(seconds) + (liveOpen ? ":live" : ":not live"), delay);
    }
};

struct LiveHarness : Harness {
    FakeVideoDevices devices = someDevices();
    FakeLiveDialogs dialogs;
    LiveHarness() {
        frm.videoDevices = &devices;
        frm.setLiveDialogs(&dialogs);
        for (const char* target : {"http://127.0.0.1:8080/live.ts", "av://v4l2:/dev/video0"}) player.openable[target] = {};
        loadPlaying();
    }
    std::string lavf() const { return optionValue(player.liveOptions, "demuxer-lavf-o"); }
};

TEST(OpenLive, StreamsAndCamerasOpenWithTheirOptionsAndCaptionsOrAreRefused) {
    LiveHarness h;
    h.frm.OpenMedia("/dev/video0");
    EXPECT_EQ(h.player.calls.back(), "live:av://v4l2:/dev/video0");
    EXPECT_EQ(h.lavf(), "fflags=+nobuffer,input_format=mjpeg,video_size=1920x1080,framerate=30/1");
    EXPECT_EQ(h.frm.caption(), "Velmora - HD Webcam");
    EXPECT_EQ(h.frm.cmdPlay.value(), 1);
    // Refused, or not to be opened now: said so, and what plays plays on.
    const std::size_t calls = h.player.calls.size();
    h.frm.OpenMedia("lavfi://testsrc");
    h.player.playsLive = false;
    h.frm.OpenMedia("http://127.0.0.1:8080/live.ts");
    EXPECT_EQ(h.player.calls.size(), calls);
    EXPECT_EQ(h.frm.caption(), "Velmora - HD Webcam");
    ASSERT_EQ(h.desktop.boxes.size(), 2u);
    EXPECT_EQ(h.desktop.boxes[0].text, classifySource("lavfi://testsrc").refusal + "\r\nlavfi://testsrc");
    EXPECT_EQ(h.desktop.boxes[1].text, "This player cannot play streams or cameras.\r\nhttp://127.0.0.1:8080/live.ts");
}

TEST(OpenLive, TheWindowIsOnTheScreenBeforeAStreamIsWaitedForAndAfterAFileHasOpened) {
    LiveHarness h;
    std::vector<std::size_t> shownAt;  // how many player calls came before
    std::string captionShown;
    h.view.onShowBeforeOpening = [&] {
        shownAt.push_back(h.player.calls.size());
        captionShown = h.frm.caption();
    };
    h.frm.OpenMedia("/videos/clip.avi");
    EXPECT_TRUE(shownAt.empty());
    const std::size_t before = h.player.calls.size();
    h.frm.OpenMedia("http://127.0.0.1:8080/live.ts");
    ASSERT_EQ(shownAt.size(), 1u);
    EXPECT_EQ(shownAt[0], before);
    EXPECT_EQ(captionShown, "Velmora - 127.0.0.1:8080/live.ts");
    EXPECT_EQ(h.player.calls.back(), "live:http://127.0.0.1:8080/live.ts");
}

TEST(OpenLive, DialogsOfferTheLastChoiceAndTheCameraKeepsItsMode) {
    LiveHarness h;
    h.frm.mnuFileOpenStream_Click();  // cancelled
    h.dialogs.address = "  http://127.0.0.1:8080/live.ts\n";
    h.frm.mnuFileOpenStream_Click();
    h.frm.mnuFileOpenStream_Click();
    EXPECT_EQ(h.dialogs.asked, (std::vector<std::string>{"stream:", "stream:", "stream:http://127.0.0.1:8080/live.ts"}));
    h.dialogs.asked.clear();
    h.dialogs.camera = LiveDialogsPort::CameraChoice{0, mode(kMjpg, 1280, 720, 60)};
    h.frm.mnuFileOpenCamera_Click();
    h.frm.OpenMedia("/dev/video4");
    h.frm.OpenMedia("/dev/video0");  // in the mode chosen for it
    EXPECT_EQ(h.lavf(), "fflags=+nobuffer,input_format=mjpeg,video_size=1280x720,framerate=60/1");
    h.frm.mnuFileOpenCamera_Click();
    EXPECT_EQ(h.dialogs.asked, (std::vector<std::string>{"camera:0:MJPG 1920x1080 1/30", "camera:0:MJPG 1280x720 1/60"}));
    h.devices.devices.clear();
    h.frm.mnuFileOpenCamera_Click();
    EXPECT_EQ(h.dialogs.asked.size(), 2u);
    EXPECT_EQ(h.desktop.boxes.back().text, "No camera found.");
}

// (The delay dialog storing its choice and giving it to the player: ui_dialogs.)
TEST(OpenLive, TheDelayFromTheSettingsGoLiveTheJumpBackAndASizeChangeOnALiveSource) {
    LiveHarness h;
    h.settings.values["LiveDelay"] = "oops";
    h.frm.mnuViewDelay_Click();   // a file plays: the dialog says the delay is for live sources
    h.frm.mnuViewGoLive_Click();  // a file: nothing
    h.settings.values["LiveDelay"] = "7";  // edited by hand: taken at the next open
    h.frm.OpenMedia("http://127.0.0.1:8080/live.ts");
    EXPECT_EQ(h.player.liveDelay, 7);
    h.frm.mnuViewDelay_Click();
    EXPECT_EQ(h.dialogs.asked, (std::vector<std::string>{"delay:0:not live", "delay:7:live"}));
    h.frm.setPlayButton(0);
    h.player.position = 4;  // four seconds received: F4 still goes back
    h.frm.mnuToolsBack_Click();
    EXPECT_EQ(h.player.seeks, (std::vector<double>{-6, -4}));
    h.frm.mnuViewGoLive_Click();
    EXPECT_EQ(h.player.count("golive"), 1);
    EXPECT_EQ(h.player.state, play_state::kPlaying);
    ASSERT_TRUE(h.frm.mnuZoom100.checked());
    h.player.changeSize(240, 390);  // the phone turned
    EXPECT_EQ(h.frm.oMediaPlayer.width(), 240);
    EXPECT_EQ(h.frm.oMediaPlayer.height(), 390);
}

}  // namespace
}  // namespace velmora::testing

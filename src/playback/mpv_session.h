// The libmpv session behind the player, without a widget: mpv's handle and
// its events, opening a file, seeking, the properties the player sets, and
// the play state.  Pictures are taken from the handle by the video widget.
//
// All libmpv calls made here are asynchronous; mpv's answers arrive as
// events that are drained on the UI thread.  setFileName() is the exception
// in shape only: it waits for the open in a nested event loop that leaves
// user input queued.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "playback/live_feed.h"
#include "playback/live_state.h"
#include "playback/player_port.h"
#include "playback/tone_map.h"

class QTimer;
struct mpv_handle;
struct mpv_event;
struct mpv_event_property;
struct mpv_node;

namespace velmora {

class MpvLiveFeed;

struct MpvOptions {
    std::string audioOutput;  // "" = mpv's default (PulseAudio, PipeWire or ALSA); "null" = silent
    int openTimeoutMs = 15000;
    // Read in place of every camera's device (benches and tests; set by code only).
    std::optional<CaptureInput> cameraStandIn{};
    // Off: cameras are read by mpv directly, their pictures kept as they come.
    bool encodeCameras = true;
};

class MpvSession : public QObject {
    Q_OBJECT

public:
    explicit MpvSession(MpvOptions options = {});
    ~MpvSession() override;

    // For the render context that takes the pictures; it must go before the
    // session does.
    mpv_handle* handle() const { return mpv_; }

    // As PlayerPort describes them.
    void setFileName(const std::string& path);
    bool setLiveSource(const MediaSource& source, const std::vector<PlayerOption>& options);
    bool live() const { return live_ && mediaEntryId_ >= 0; }
    // A file, stream or camera is being opened (a stream may take seconds).
    bool opening() const { return open_ != nullptr; }
    bool liveHeld() const {
        return live() && ((watchdog_ && watchdog_->lost() && !playingOut_) || follower_.gathering());
    }
    void goLive();
    // Seconds behind live that live sources play at (0: live); a change
    // takes effect at once while the delay (or live) is followed.
    void setLiveDelay(int seconds);
    int liveDelay() const { return liveDelay_; }
    // A live source's state for the strip: "LIVE", "Delay 10 s", "-12.4 s"
    // or the lost signal; "" for a file.
    std::string liveText() const;
    // A live source's seconds behind its newest frame received, as last measured.
    double liveBehind() const { return follower_.behind(); }
    const std::string& fileName() const { return fileName_; }
    double currentPosition() const;
    void setCurrentPosition(double seconds);
    const std::string& errorDescription() const { return error_; }
    int playState() const { return playState_; }
    void setSlowSpeed(bool slow);
    void play();
    void pause();

    // The video's natural display size, while a file with a picture is open.
    bool hasVideo() const { return hasVideo_; }
    int videoWidth() const { return videoWidth_; }
    int videoHeight() const { return videoHeight_; }
    double duration() const { return duration_; }
    // Whether the frames mpv renders now are to be shown: those of the open
    // file (not while a live source is being opened again), or of the file
    // being opened once it has loaded.
    bool picturesWanted() const;

    void toggleMute();
    void setVolume(int percent);

    // mpv's own counts of frames dropped at output and at decoding.
    long long frameDropCount() const { return frameDrops_; }
    long long decoderFrameDropCount() const { return decoderFrameDrops_; }

signals:
    void playStateChanged(int previous, int state);
    void openStateChanged(int previous, int state);
    // The position or the length changed, or is asked for anew.
    void timesChanged();
    void mutedChanged(bool muted);
    // The open file, or the one that failed to open, is forgotten: its
    // picture is no longer to be shown.
    void mediaForgotten();
    // The decoded video's transfer function (SDR, PQ or HLG) and its
    // signal peak relative to reference white, as mpv reports them.
    void transferChanged(velmora::Transfer transfer, double relativePeak);
    // The open video's size changed while it played (a live source's sender
    // turned or restarted).
    void videoSizeChanged();
    // A live source is about to be opened again: from now on mpv has no
    // picture of it to draw.
    void reopening();

private:
    struct OpenAttempt;

    // Loads `target` with the per-file `optionList` and waits for it, as
    // setFileName() describes; failures start with `failurePrefix`.
    void openTarget(const std::string& target, const std::string& optionList, const std::string& failurePrefix);
    // A live source: the newest frame received moved, or the source ended.
    void followCache(const mpv_node& state);
    void followLive();
    double delayTarget() const;
    void liveEnded();
    void followSeekable();
    // Opens the live source again after its signal was lost.
    void reconnect();
    void stopLive();
    void drainEvents();
    void handleEvent(const mpv_event& event);
    // Follows a property mpv reports as changed.
    void followProperty(const mpv_event_property& prop);

    void command(std::initializer_list<const char*> args, std::uint64_t reply = 0);
    void setFlag(const char* name, bool value);
    void setPlayState(int state);
    // Follows mpv's report that the open file's end is or is no longer reached.
    void followEnd(bool atEnd);
    void closeMedia();
    // Drops everything known about the open file; its picture goes too.
    void forgetMedia();
    void seekTo(double seconds);
    void failOpen(std::string description);
    void applyMute();

    MpvOptions options_;
    mpv_handle* mpv_ = nullptr;
    std::atomic<bool> drainQueued_{false};
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    OpenAttempt* open_ = nullptr;
    std::uint64_t openSerial_ = 0;      // counts open attempts; tags their replies
    std::int64_t mediaEntryId_ = -1;    // playlist entry of the open media
    std::int64_t currentEntryId_ = -1;  // entry mpv started last
    std::uint64_t rotationHook_ = 0;    // the file-preloaded hook mpv waits on
    std::string fileName_;
    std::string error_;
    int playState_ = play_state::kNoMedia;
    bool hasVideo_ = false;
    int videoWidth_ = 320;
    int videoHeight_ = 0;

    double timePos_ = 0;
    double duration_ = 0;
    bool eofReached_ = false;
    std::optional<double> pendingSeek_;  // asked for, not yet reported by mpv
    std::uint64_t seekGeneration_ = 0;
    std::uint64_t seekAcked_ = 0;

    bool userMuted_ = false;
    bool slow_ = false;
    bool deinterlacing_ = false;
    bool userPaused_ = false;  // paused by a call to pause(), not yet played again  // the open file's frames go through the deinterlacer

    // ---- Live source ----
    bool live_ = false;
    // A stream over HTTP: it may turn out to be a recording on a web server.
    bool maybeRecording_ = false;
    // What mpv says of the open media: whether it can be sought in, and
    // whether only within what its cache holds.
    bool seekable_ = false, partiallySeekable_ = false;
    std::string liveTarget_;
    std::string liveOptionList_;
    long long aheadBytes_ = 0;  // what the cache holds ahead at most
    bool cacheFull_ = false;    // paused with that much ahead: no more is read
    double cacheEnd_ = -1;            // newest received, stream seconds; -1 unknown
    double seekStart_ = 0, seekEnd_ = 0;  // what can be sought in, from the cache
    bool seekableKnown_ = false;
    double speed_ = 1;
    std::int64_t reconnectEntryId_ = -1;  // the entry of a reconnect in progress
    bool reconnecting_ = false;
    // The signal is lost and what was received before plays out first;
    // where it was last seen moving, and since when.
    bool playingOut_ = false;
    double playOutPosition_ = 0;
    QElapsedTimer playOutMoved_;
    // Playback stopped following while the signal was lost; it follows again when the source is back.
    bool followAfterLoss_ = false;
    bool goingLive_ = false;  // a Go Live seek has not landed yet
    int liveDelay_ = 0;
    bool pauseSent_ = false;  // the last "pause" asked of mpv
    // The watchdog's timers on Qt's event loop.
    class Timers : public TimerHost {
    public:
        void arm(Timer& timer, int intervalMs) override;
        void disarm(Timer& timer) override;
    };
    Timers timers_;
    QTimer* cachePoll_ = nullptr;  // asks for the cache's state while live
    LiveFollower follower_;
    std::unique_ptr<SignalWatchdog> watchdog_;
    std::unique_ptr<MpvLiveFeed> feed_;  // a camera's encoded pictures

    long long frameDrops_ = 0;
    long long decoderFrameDrops_ = 0;
};

}  // namespace velmora

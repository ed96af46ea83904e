// The media player as the main window drives it.
//
// Play states: 0 stopped, 1 paused, 2 playing, 6 no media open
// (other values for other transient states).  Open states: 0 closed,
// 5 opening, 6 media open.  Events are raised on the UI thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "playback/media_source.h"

namespace velmora {

namespace play_state {
inline constexpr int kStopped = 0;
inline constexpr int kPaused = 1;
inline constexpr int kPlaying = 2;
inline constexpr int kNoMedia = 6;
}  // namespace play_state

namespace open_state {
inline constexpr int kClosed = 0;
inline constexpr int kMediaOpen = 6;
}  // namespace open_state

// Height of the player's own control strip along its bottom edge, in pixels.
// Captures leave the lowest 70 rows of the player out, so the strip is never
// part of a captured frame.
inline constexpr int kControlStripHeight = 70;

class PlayerPort {
public:
    virtual ~PlayerPort() = default;

    // Put: an open attempt that returns when the attempt is over; afterwards
    // playState() is 6 exactly when nothing could be opened and
    // errorDescription() says why.  Get: the open path ("" when none).
    virtual void setFileName(const std::string& path) = 0;
    virtual std::string fileName() const = 0;

    // Seconds from the start.  A put seeks exactly; a get that follows returns
    // the position asked for until the player reports where it landed.
    virtual double currentPosition() const = 0;
    virtual void setCurrentPosition(double seconds) = 0;

    // Why the last open failed, as a sentence a user understands.
    virtual std::string errorDescription() const = 0;

    virtual int playState() const = 0;

    // True at slow and very slow speed (written only).
    virtual void setSlowSpeed(bool slow) = 0;

    virtual void play() = 0;
    virtual void pause() = 0;

    // The size the player takes for the open video: the video's natural
    // display size plus the control strip.  Meaningful after a successful open.
    virtual int naturalWidth() const = 0;
    virtual int naturalHeight() const = 0;

    // ---- Live sources ----
    // Put a stream or a camera (source.live()) to be played with `options`
    // (liveOptions()): an open attempt like setFileName()'s, after which
    // fileName() is playerTarget(source).  False when this player cannot
    // play live sources: then nothing was tried and nothing changed.
    virtual bool setLiveSource(const MediaSource& source, const std::vector<PlayerOption>& options) {
        (void)source;
        (void)options;
        return false;
    }
    // Whether the open media is a live source.
    virtual bool live() const { return false; }
    // Plays on from the newest frame received at once, keeping what has been
    // received for time-shift; nothing unless a live source is open.
    virtual void goLive() {}
    // Seconds (0 to 60) behind live that live sources are played at: a
    // steady delay, gathered first; 0 plays live.  Kept for later opens; a
    // change takes effect at once while the open source follows its delay.
    virtual void setLiveDelay(int seconds) { (void)seconds; }
    // A live source shows no new pictures now, though it plays: its signal
    // is lost, or its delay is being gathered.  The ring then keeps what it
    // holds instead of filling with copies of the picture that stays.
    virtual bool liveHeld() const { return false; }
    // Pictures the player has shown since it was made; -1 when it does not
    // count them.  A live source whose count stands still while it plays has
    // stalled: its signal may be going, which is noticed only seconds later.
    virtual long long picturesShown() const { return -1; }

    // PlayStateChange(previous, new) and the open-state change (previous, new).
    std::function<void(int, int)> onPlayStateChange;
    std::function<void(int, int)> onOpenStateChange;
    // The open video's size changed while it plays (a phone turned, an
    // encoder restarted): naturalWidth() and naturalHeight() hold the new one.
    std::function<void()> onVideoSizeChange;

protected:
    void raisePlayStateChange(int oldState, int newState) {
        if (onPlayStateChange) onPlayStateChange(oldState, newState);
    }
    void raiseOpenStateChange(int oldState, int newState) {
        if (onOpenStateChange) onOpenStateChange(oldState, newState);
    }
    void raiseVideoSizeChange() {
        if (onVideoSizeChange) onVideoSizeChange();
    }
};

}  // namespace velmora

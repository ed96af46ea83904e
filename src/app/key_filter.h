// The keys as the window's keyboard procedures see them: one press when a key
// goes down and one release when it comes up, however the platform repeats a
// held key.
//
// A held key repeats in one of these ways:
//  - X11: release/press pairs that share a timestamp, the release marked as a
//    repeat only when its press had already arrived; a press of the pair may
//    come after the release has waited its time out (a late press);
//  - X11 with the keyboard extension's detectable auto-repeat: presses alone;
//  - Wayland: release/press pairs marked as repeats, of a time that can be 0.
// A press is first offered to the menu shortcuts; one that a shortcut took is
// never delivered, yet the key counts as down from that offer on.
//
// The filter only returns what to deliver: it calls nothing, so whatever the
// procedures do while they handle a key (a dialog that takes the keyboard
// focus, say) finds the filter in a state of its own, never half changed.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace velmora {

struct KeyAction {
    bool down = false;  // a press, else a release
    int key = 0;
    int shift = 0;
    bool operator==(const KeyAction&) const = default;
};

class KeyFilter {
public:
    enum class Kind { Offer, Press, Release };
    struct Event {
        Kind kind = Kind::Press;
        int key = 0;
        std::uint64_t time = 0;  // ms; 0 when the platform gives none
        bool marked = false;     // marked as a repeat
        int shift = 0;
    };
    struct Result {
        std::vector<KeyAction> actions;
        // A repeat of a held key: an offer is kept from the shortcuts.
        bool repeat = false;
        // A release waits for its pair's press: call waitOver() after
        // kPairWaitMs unless another release restarts the wait.
        bool wait = false;
    };
    // How long an unmarked release waits for the press of its pair.
    static constexpr int kPairWaitMs = 50;

    // unmarkedPairs: whether a held key can repeat as release/press pairs
    // that are not marked (X11 without detectable auto-repeat).
    explicit KeyFilter(bool unmarkedPairs) : unmarkedPairs_(unmarkedPairs) {}

    Result take(const Event& event);
    // No press came in time: the waiting releases are real.
    std::vector<KeyAction> waitOver();
    // The window lost the keyboard focus: the keys it holds get no release
    // here, so their presses end now.
    std::vector<KeyAction> focusLost();
    // Another window of the program had an event of the key: its press ends.
    std::vector<KeyAction> takenElsewhere(int key);
    bool waiting() const;

private:
    enum class Phys {
        Down,      // held
        Pending,   // released at releaseTime; a press of that time takes it back
        Released,  // its release delivered; a late press of releaseTime is a repeat
        Unknown,   // its press ended early (the focus went); up or down, unseen
    };
    struct Held {
        Phys phys = Phys::Down;
        bool toldDown = true;      // the procedures think it down
        bool pressUnseen = false;  // offered to the shortcuts, press not delivered yet
        std::uint64_t pressTime = 0;
        std::uint64_t releaseTime = 0;
        int shift = 0;
    };
    static bool repeats(const Held& h, const Event& e);
    // The press of an untracked or ended key.
    void newPress(const Event& e, bool offered, std::vector<KeyAction>& out);
    void end(int key, Held& h, std::vector<KeyAction>& out);
    void flushPending(std::vector<KeyAction>& out);

    bool unmarkedPairs_;
    std::map<int, Held> held_;  // by key
};

}  // namespace velmora

#include "app/key_filter.h"

namespace velmora {

bool KeyFilter::repeats(const Held& h, const Event& e) {
    if (e.marked) return true;
    switch (h.phys) {
        case Phys::Down: return true;  // a press alone
        case Phys::Pending:
        case Phys::Released: return e.time != 0 && e.time == h.releaseTime;  // the press of a pair
        case Phys::Unknown: return e.time != 0 && e.time == h.pressTime;  // the ended press itself
    }
    return false;
}

KeyFilter::Result KeyFilter::take(const Event& e) {
    Result r;
    auto it = held_.find(e.key);
    switch (e.kind) {
        case Kind::Offer:
            if (e.marked || (it != held_.end() && repeats(it->second, e))) {
                // Taken here, the repeat goes on as a key press and is passed
                // over below; a shortcut took the first press, if any.
                if (it != held_.end()) it->second.pressUnseen = false;
                r.repeat = true;
                return r;
            }
            if (it != held_.end()) end(e.key, it->second, r.actions);
            newPress(e, true, r.actions);
            return r;

        case Kind::Press:
            if (it == held_.end()) {
                if (e.marked) {
                    r.repeat = true;  // the key went down where this window did not see it
                    return r;
                }
            } else if (Held& h = it->second; h.pressUnseen && !e.marked) {
                // The press offered to the shortcuts, none of which took it.
                h.pressUnseen = false;
                r.actions.push_back({true, e.key, e.shift});
                return r;
            } else if (repeats(h, e)) {
                if (h.phys != Phys::Unknown) h.phys = Phys::Down;
                r.repeat = true;
                return r;
            } else {
                // The key came up and went down again: first the release.
                end(e.key, h, r.actions);
            }
            newPress(e, false, r.actions);
            return r;

        case Kind::Release:
            if (e.marked) {
                r.repeat = true;  // a repeat's release is no release
                return r;
            }
            if (it == held_.end()) {
                // A key that went down elsewhere: nothing to pair it with.
                r.actions.push_back({false, e.key, e.shift});
                return r;
            }
            if (Held& h = it->second; unmarkedPairs_ && e.time != 0) {
                h.phys = Phys::Pending;
                h.releaseTime = e.time;
                h.shift = e.shift;
                r.wait = true;
            } else {
                if (h.toldDown) r.actions.push_back({false, e.key, e.shift});
                held_.erase(it);
            }
            return r;
    }
    return r;
}

void KeyFilter::newPress(const Event& e, bool offered, std::vector<KeyAction>& out) {
    // Releases still waiting happened before this press.
    flushPending(out);
    held_[e.key] = Held{Phys::Down, true, offered, e.time, 0, e.shift};
    if (!offered) out.push_back({true, e.key, e.shift});
}

void KeyFilter::end(int key, Held& h, std::vector<KeyAction>& out) {
    if (h.toldDown) out.push_back({false, key, h.shift});
    h.toldDown = false;
    h.pressUnseen = false;
    h.phys = Phys::Unknown;
}

void KeyFilter::flushPending(std::vector<KeyAction>& out) {
    for (auto& [key, h] : held_) {
        if (h.phys != Phys::Pending) continue;
        if (h.toldDown) out.push_back({false, key, h.shift});
        h.toldDown = false;
        h.phys = Phys::Released;
    }
}

std::vector<KeyAction> KeyFilter::waitOver() {
    std::vector<KeyAction> out;
    flushPending(out);
    return out;
}

std::vector<KeyAction> KeyFilter::focusLost() {
    std::vector<KeyAction> out;
    for (auto& [key, h] : held_) end(key, h, out);
    return out;
}

std::vector<KeyAction> KeyFilter::takenElsewhere(int key) {
    std::vector<KeyAction> out;
    if (auto it = held_.find(key); it != held_.end()) end(key, it->second, out);
    return out;
}

bool KeyFilter::waiting() const {
    for (const auto& [key, h] : held_)
        if (h.phys == Phys::Pending) return true;
    return false;
}

}  // namespace velmora

// The key filter on the key sequences each platform gives for held and tapped keys.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/key_filter.h"

namespace velmora {
namespace {

// Steps, blank separated: o|p|r (offer, press, release), * when marked as a
// repeat, the key's letter, @time; W the release wait is over; F the focus
// is lost; E and a key letter: another window had the key.
// The result: +k a press and -k a release delivered, ! an offer kept from
// the shortcuts, and a final ~ when a release still waits.
std::string run(bool unmarkedPairs, const std::string& steps) {
    KeyFilter f(unmarkedPairs);
    std::string log;
    const auto note = [&](const std::vector<KeyAction>& actions) {
        for (const KeyAction& a : actions)
            log += std::string(a.down ? " +" : " -") + static_cast<char>(a.key);
    };
    std::istringstream in(steps);
    for (std::string s; in >> s;) {
        if (s == "W") {
            note(f.waitOver());
        } else if (s == "F") {
            note(f.focusLost());
        } else if (s[0] == 'E') {
            note(f.takenElsewhere(s[1]));
        } else {
            KeyFilter::Event e;
            e.kind = s[0] == 'o'   ? KeyFilter::Kind::Offer
                     : s[0] == 'p' ? KeyFilter::Kind::Press
                                   : KeyFilter::Kind::Release;
            e.marked = s[1] == '*';
            e.key = s[e.marked ? 2 : 1];
            e.time = std::stoull(s.substr(s.find('@') + 1));
            const KeyFilter::Result r = f.take(e);
            if (e.kind == KeyFilter::Kind::Offer && r.repeat) log += " !";
            note(r.actions);
        }
    }
    if (f.waiting()) log += " ~";
    return log.empty() ? log : log.substr(1);
}

struct Row {
    const char* name;
    bool unmarkedPairs;
    const char* steps;
    const char* seen;
};

TEST(KeyFilter, PlatformSequences) {
    const Row rows[] = {
        {"X11 unmarked pairs", true, "pa@1000 ra@1500 pa@1500 ra@1540 pa@1540 ra@2100 W", "+a -a"},
        {"X11 marked pairs", true, "pa@1000 r*a@1500 p*a@1500 r*a@1540 p*a@1540 ra@2100 W", "+a -a"},
        {"presses alone", true, "pa@1000 pa@1040 pa@1080 ra@1100 W", "+a -a"},
        {"a late press and the pairs after it", true,
         "pa@1000 ra@1100 W pa@1100 ra@1140 pa@1140 pa@1180 ra@1300 W", "+a -a"},
        {"a quick second tap", true, "pa@7000 ra@7050 pa@7060 ra@7110 W", "+a -a +a -a"},
        {"focus lost while held, the pairs go on", true,
         "pa@1000 ra@1500 pa@1500 F ra@1540 pa@1540 ra@2000 W", "+a -a"},
        {"focus lost between a press's offer and its delivery", true, "oa@1000 F pa@1000 ra@1100 W", "-a"},
        {"Wayland marked repeats of time 0", false, "pa@1000 r*a@0 p*a@0 r*a@0 p*a@0 ra@1900", "+a -a"},
        {"a waiting release comes before another key's press", true, "pa@1000 ra@1100 pb@1120", "+a -a +b"},
        {"two keys held", true, "pa@1000 pb@1100 ra@1200 pb@1240 rb@1300 W", "+a +b -a -b"},
        {"a shortcut took the press; its repeats are kept from the shortcuts", true,
         "oa@1000 ra@1500 oa@1500 pa@1500 o*a@1540 p*a@1540 ra@2100 W", "! ! -a"},
        {"a shortcut tapped twice", true, "oa@2000 ra@2050 oa@2060 ra@2100 W", "-a -a"},
        {"another window had the key", true, "pa@1000 Ea ra@1100 W pa@1200", "+a -a +a"},
        {"keys that went down elsewhere", true, "ra@500 p*b@500", "-a"},
    };
    for (const Row& row : rows) EXPECT_EQ(run(row.unmarkedPairs, row.steps), row.seen) << row.name;
}

}  // namespace
}  // namespace velmora

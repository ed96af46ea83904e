// What every fuzz target here needs: a check that stops the run with a
// readable reason, and the description of the program's error a call raises.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/errors.h"

namespace velmora::fuzzing {

inline void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// The description of the error `f` raises, "" when it raises none.
template <typename F>
std::string raised(F&& f) {
    try {
        f();
    } catch (const AppError& e) {
        return e.description();
    }
    return "";
}

}  // namespace velmora::fuzzing

// Errors as the program's procedures raise and report them.
//
// A raised error carries its description and the source line that raised it,
// so that ShowError can append ", line N" to the message.
#pragma once

#include <stdexcept>
#include <string>

namespace velmora {

class AppError : public std::runtime_error {
public:
    AppError(std::string description, int line)
        : std::runtime_error(description), description_(std::move(description)), line_(line) {}

    const std::string& description() const { return description_; }
    int line() const { return line_; }

private:
    std::string description_;
    int line_;
};

// The descriptions users know from the runtime's standard errors.
inline constexpr const char* kErrOverflow = "Overflow";
inline constexpr const char* kErrDivisionByZero = "Division by zero";
inline constexpr const char* kErrTypeMismatch = "Type mismatch";
inline constexpr const char* kErrInvalidCall = "Invalid procedure call or argument";

#define RAISE_ERROR(desc) throw ::velmora::AppError((desc), __LINE__)

// Description and line of any exception caught by a procedure's trap.
struct CaughtError {
    std::string description;
    int line = 0;
};

inline CaughtError describe(const std::exception& e) {
    if (auto* app = dynamic_cast<const AppError*>(&e)) return {app->description(), app->line()};
    return {e.what(), 0};
}

// Runs one statement of a procedure that continues past errors.
template <typename F>
void resumeNext(F&& statement) noexcept {
    try {
        statement();
    } catch (...) {
    }
}

}  // namespace velmora

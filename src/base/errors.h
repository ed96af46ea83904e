// Errors as the program's procedures raise and report them.
//
// A raised error carries its description and the source line that raised it,
// so that ShowError can append ", line N" to the message.  Helpers that raise
// on behalf of a procedure (the checked conversions, raiseError) take the
// caller's location as a default argument, so the line names the procedure's
// own failing statement, not a line inside the helper.
#pragma once

#include <source_location>
#include <stdexcept>
#include <string>

namespace velmora {

// Where a call came from.  std::source_location where the compiler and the
// library both have it; otherwise (clang 14 with libstdc++ 12, which the
// sanitizer and fuzzer builds use) the compiler's builtin, which a default
// argument evaluates at the call site just the same.
#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
struct SourceLocation {
    static constexpr SourceLocation current(unsigned line = __builtin_LINE()) { return SourceLocation{line}; }
    constexpr unsigned line() const { return line_; }
    unsigned line_ = 0;
};
#endif

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

// Raises an error at the caller's statement.
[[noreturn]] inline void raiseError(std::string description,
                                    SourceLocation where = SourceLocation::current()) {
    throw AppError(std::move(description), static_cast<int>(where.line()));
}

#define RAISE_ERROR(desc) ::velmora::raiseError(desc)

// Description and line of any exception caught by a procedure's trap; an
// error without a line (from the platform or the library) has line 0.
struct CaughtError {
    std::string description;
    int line = 0;
};

inline CaughtError describe(const std::exception& e) {
    if (auto* app = dynamic_cast<const AppError*>(&e)) return {app->description(), app->line()};
    return {e.what(), 0};
}

// The error patterns of the program's procedures.  Each procedure uses
// exactly one of them; the trap is installed by wrapping its body.

// Report: runs the body; an error goes to `report` with the procedure's
// prefix ("Name: ") and ends the procedure.
template <typename Report, typename F>
void reportErrors(const char* prefix, Report&& report, F&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        const CaughtError err = describe(e);
        report(prefix + err.description, err.line);
    }
}

// Continue past errors: runs one statement of the procedure; an error skips
// only that statement.
template <typename F>
void resumeNext(F&& statement) noexcept {
    try {
        statement();
    } catch (...) {
    }
}

// End silently: an error ends the procedure without a message.
template <typename F>
void endSilently(F&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

}  // namespace velmora

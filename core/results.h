// What each result code of the conversion (MakeCode) means, by name, for the window's messages
// and tolvex-cli's exit statuses alike. The numbers are the library's and never change.
#pragma once

#include <cstdint>

namespace tolvex {

enum class Result : int32_t {
    Done = 0,         // when decoding, the content check matched
    OutputExists = 1, // the mode does not overwrite; nothing written
    Damaged = 2,      // decoded, but the content check failed; the output stays
    SourceMissing = -1,
    CannotOpen = -2, // source unreadable, extension too long, output not creatable, I/O
    BadMode = -3,
    WrongKey = -4, // or not a well-formed encoded file
    TemplateMissing = -5,
    SameFile = -6, // the output would be the source
    NoMemory = -7,
    Other = INT32_MIN, // any number the library does not give
};

constexpr Result resultOf(int32_t code) {
    return code >= -7 && code <= 2 ? Result(code) : Result::Other;
}

// Whether the run left an output under its final name.
constexpr bool leftOutput(Result r) {
    return r == Result::Done || r == Result::Damaged;
}

} // namespace tolvex

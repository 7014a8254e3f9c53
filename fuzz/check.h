// What every fuzz target shares: invariant checks that stop the run with a
// message (libFuzzer keeps the input as a crash), and feeding a streaming
// decoder in pieces whose sizes come from the input itself, so a finding
// replays exactly from its input file.
//
// Plain C++: the ordinary tests (tests/fuzz) build the same targets for
// Windows and replay the findings kept in tests/data/fuzz through them, with
// a failure handler that turns a broken invariant into a test failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "frame/safe_name.h"

namespace fuzz {

// Called with the broken invariant before the run is stopped; a handler that
// throws lets the caller go on.
using FailureHandler = void (*)(const char* what, const char* file, int line);
inline FailureHandler& failure_handler() {
    static FailureHandler handler = nullptr;
    return handler;
}

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    if (failure_handler()) failure_handler()(what, file, line);
    std::fprintf(stderr, "invariant broken at %s:%d: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition)                                        \
    do {                                                             \
        if (!(condition)) ::fuzz::fail(#condition, __FILE__, __LINE__); \
    } while (0)

inline std::string_view text_of(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// FNV-1a: the seed of the piece sizes, a function of the input alone.
inline uint64_t seed_of(std::string_view in) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : in) h = (h ^ c) * 1099511628211ull;
    return h | 1;
}

// Calls feed(piece) over `in` cut into pieces: mostly a few bytes long, so
// that every state a decoder keeps between pieces is crossed, now and then
// a few hundred.
template <class Feed>
void in_pieces(std::string_view in, Feed feed) {
    uint64_t s = seed_of(in);
    size_t at = 0;
    while (at < in.size()) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        const size_t n = (s & 3) == 0 ? 1 + (s >> 8) % 512 : 1 + (s >> 8) % 8;
        feed(in.substr(at, n));
        at += n;
    }
}

// One byte at a time, for inputs small enough that this stays cheap.
constexpr size_t kBytewiseLimit = 512;
template <class Feed>
void bytewise(std::string_view in, Feed feed) {
    for (size_t i = 0; i < in.size(); ++i) feed(in.substr(i, 1));
}

// What a name we create must be, checked independently of the rule that
// made it: not empty; no separator, drive colon, control or other refused
// character, except as the second byte of a double-byte character (a lead
// byte of `lead` followed by a byte from 0x40 up, DEL excepted); no trailing
// dot or blank; no device or temporary-file name. Length is not checked: a
// name too long for the file system fails to be created, which is safe.
inline bool plain_name(std::string_view name, const frame::LeadBytes* lead = nullptr) {
    if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (lead && (*lead)[c] && i + 1 < name.size()) {
            const unsigned char trail = static_cast<unsigned char>(name[i + 1]);
            if (trail >= 0x40 && trail != 0x7F) {
                ++i;
                continue;
            }
        }
        if (c < 0x20 || c == 0x7F || std::string_view("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string_view::npos)
            return false;
    }
    return !frame::is_device_name(name) && !frame::is_temporary_file_name(name);
}

}  // namespace fuzz

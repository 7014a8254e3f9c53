// What every fuzz target shares: invariant checks that stop the run with a
// message (libFuzzer keeps the input as a crash), and feeding a streaming
// decoder in pieces whose sizes come from the input itself, so a finding
// replays exactly from its input file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzz {

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
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

}  // namespace fuzz

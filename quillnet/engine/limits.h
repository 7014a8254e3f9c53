// Time and size limits of the network clients, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillnet::engine {

struct Timeouts {
    uint32_t connect_ms = 15000;  // resolving and connecting
    uint32_t read_ms = 60000;     // each read: a stalled server ends in an error
};

// A reply or body line longer than this is an error, not unbounded memory.
// The native fuzz build sets a small cap, so that its short inputs reach it
// without megabytes of filler on every run.
#ifndef QK_MAX_LINE_LENGTH
#define QK_MAX_LINE_LENGTH (1u << 20)
#endif
constexpr size_t kMaxLineLength = QK_MAX_LINE_LENGTH;

}  // namespace quillnet::engine

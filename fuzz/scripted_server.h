// The server side of a fuzzed conversation: a transport that plays a script
// back in pieces whose sizes come from the script itself (or as much as fits
// each read), and records what the client sent. Plain C++ like the targets;
// natively, connect_tcp hands one out (native/transport.cpp).
#pragma once

#include <winsock2.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "check.h"
#include "quillnet/engine/limits.h"
#include "quillnet/engine/transport.h"

namespace fuzz {

struct ScriptedServer {
    std::string script;        // everything the server will say
    size_t at = 0;             // how much of it was said
    bool whole_reads = false;  // every read gets as much as fits, not a random piece
    std::string sent;          // everything the client said
    int connects = 0;
};

// The input with "\x01" n expanded to n x (line cap / 64) bytes of "a" (twice
// the cap in all at most): lines long enough to reach the line cap from a
// small input, whatever the cap of this build.
inline std::string expand_script(std::string_view input) {
    constexpr size_t kRun = quillnet::engine::kMaxLineLength / 64, kMostExpanded = 2 * quillnet::engine::kMaxLineLength;
    std::string out;
    for (size_t i = 0; i < input.size(); ++i) {
        if (input[i] == '\x01' && i + 1 < input.size()) {
            const size_t n = static_cast<unsigned char>(input[++i]) * kRun;
            if (out.size() + n <= kMostExpanded) out.append(n, 'a');
            continue;
        }
        out.push_back(input[i]);
    }
    return out;
}

class ScriptedTransport final : public quillnet::engine::Transport {
  public:
    // Seeded from the script's start and size: hashing megabytes of it on
    // every connection would cost more than the conversation.
    explicit ScriptedTransport(ScriptedServer& server)
        : server_(server),
          seed_(seed_of(std::string_view(server.script).substr(0, 256)) ^ (server.script.size() * 0x9E3779B97F4A7C15ull)) {}

    quillnet::engine::IoResult send(const char* data, size_t size) override {
        server_.sent.append(data, size);
        return quillnet::engine::IoResult::success();
    }

    quillnet::engine::IoResult receive(char* buffer, size_t capacity, size_t& got) override {
        got = 0;
        const size_t left = server_.script.size() - server_.at;
        if (left == 0) return {quillnet::engine::IoStatus::closed, WSAECONNRESET};
        size_t n = left;
        if (!server_.whole_reads) {
            seed_ ^= seed_ << 13;
            seed_ ^= seed_ >> 7;
            seed_ ^= seed_ << 17;
            // Mostly what a network read brings, now and then a sliver.
            n = (seed_ & 3) == 0 ? 1 + (seed_ >> 8) % 16 : 1 + (seed_ >> 8) % 4096;
        }
        n = std::min({n, left, capacity});
        std::memcpy(buffer, server_.script.data() + server_.at, n);
        server_.at += n;
        got = n;
        return quillnet::engine::IoResult::success();
    }

  private:
    ScriptedServer& server_;
    uint64_t seed_;
};

// The server the next connect_tcp of the native build reaches; null
// refuses connections.
inline ScriptedServer*& scripted_server() {
    static ScriptedServer* server = nullptr;
    return server;
}

}  // namespace fuzz

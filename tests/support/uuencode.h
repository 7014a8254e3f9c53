// A uuencoded block ("begin 644 NAME" ... "`" "end") as a poster writes it:
// 45 bytes a line, shared by the decoding tests and the decoding benchmark
// so both feed the decoder the same text. Header-only: the benchmark builds
// without the test libraries.
#pragma once

#include <algorithm>
#include <string>

namespace qk_test {

inline std::string uuencode(const std::string& data, const std::string& name) {
    auto enc = [](unsigned v) { return static_cast<char>(v ? v + 32 : '`'); };
    std::string out = "begin 644 " + name + "\n";
    out.reserve(data.size() / 45 * 62 + 64);
    for (size_t i = 0; i < data.size(); i += 45) {
        const size_t n = std::min<size_t>(45, data.size() - i);
        out += enc(static_cast<unsigned>(n));
        for (size_t g = 0; g < n; g += 3) {
            unsigned char b[3] = {0, 0, 0};
            for (size_t k = 0; k < 3 && g + k < n; ++k) b[k] = static_cast<unsigned char>(data[i + g + k]);
            out += enc(b[0] >> 2);
            out += enc(((b[0] & 3) << 4) | (b[1] >> 4));
            out += enc(((b[1] & 15) << 2) | (b[2] >> 6));
            out += enc(b[2] & 63);
        }
        out += '\n';
    }
    return out + "`\nend\n";
}

}  // namespace qk_test

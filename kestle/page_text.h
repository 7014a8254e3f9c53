// The page helpers' two text jobs: emoticons to image tags and byte counts
// to short size texts. Plain C++ on ANSI bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestle {

// Replaces emoticon tokens by <IMG> tags, greedily from the left, three-byte
// tokens before two-byte ones; every other byte is copied unchanged.
std::string smilies(std::string_view text);
// The same into `out` (replacing what it held), reusing its capacity.
void smilies(std::string_view text, std::string& out);

// "%d Bytes", "%d KB", "%d MB" or "%d GB" with truncating divisions by 1024.
std::string convert_file_size(int32_t size);

}  // namespace kestle

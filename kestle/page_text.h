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

// The same straight on a page's wide text. Tokens and tags are ASCII, and
// in every ANSI code page a token's characters are single bytes that no
// other character's bytes can imitate, so tagging the characters gives what
// tagging the ANSI bytes gives, without the two conversions, and keeps the
// characters the ANSI code page lacks. size_wide_smilies measures (the text
// ends at its first NUL, as every text at the boundary does).
struct WideTagging {
    size_t text_length = 0;    // up to the first NUL
    size_t result_length = 0;  // characters, without a terminator
};
WideTagging size_wide_smilies(std::wstring_view text);
// Writes the tagged text of text.substr(0, text_length) into `out`, which
// holds result_length characters.
void wide_smilies(std::wstring_view text, wchar_t* out);

// "%d Bytes", "%d KB", "%d MB" or "%d GB" with truncating divisions by 1024.
std::string convert_file_size(int32_t size);

}  // namespace kestle

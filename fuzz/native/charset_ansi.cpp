// Native stand-ins for the code-page calls of quillnet/engine/
// charset_ansi.cpp: a single-byte ANSI code page, as on the servers the
// components run on, and every charset read as if it were that code page.
// The parsers around them see the same kinds of results (bytes in, bytes
// out), and the fuzz targets can hold decoded names to "never longer than
// the input". The double-byte walk of frame::safe_name is fuzzed directly
// with a table of its own (fuzz_safe_name).
#include "quillnet/engine/charset.h"

namespace quillnet::engine {

bool is_lead_byte(unsigned, char) noexcept { return false; }

std::string charset_to_ansi(std::string_view, std::string_view bytes) { return std::string(bytes); }

}  // namespace quillnet::engine

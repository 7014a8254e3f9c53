// Native stand-in for the code-page conversion of quillnet/engine/
// charset_ansi.cpp: as if every charset were the ANSI code page. The parsers
// around it see the same kinds of results (bytes in, bytes out), and the
// fuzz targets can hold decoded names to "never longer than the input".
#include "quillnet/engine/charset.h"

namespace quillnet::engine {

std::string charset_to_ansi(std::string_view, std::string_view bytes) { return std::string(bytes); }

}  // namespace quillnet::engine

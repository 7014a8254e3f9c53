// Native stand-in for the system's lead-byte table (quillnet/news/
// store_files.cpp): a single-byte ANSI code page, as on the servers the
// components run on. The double-byte walk of frame::safe_name is fuzzed
// directly with a table of its own (fuzz_safe_name).
#include "quillnet/news/file_names.h"

namespace quillnet {

frame::LeadBytes lead_bytes_of(unsigned) { return {}; }

}  // namespace quillnet

// Names the article store makes from what a message says: names a sender
// chose, made safe to create inside a group folder. Files themselves are
// written by frame/atomic_file.h.
#pragma once

#include <string>
#include <string_view>

#include "frame/safe_name.h"

namespace quillnet {

// The name a message gives an attachment, made safe by the one safe-name
// rule (frame/safe_name.h: only the last path element, no drive, no refused
// characters, no device or temporary-file name), walking the code page's
// double-byte characters whole. On top of that the store's own names are
// kept free: a name that looks like a stored article (digits, optionally
// after a "-") or the group list cache "NewsList.txt" gets a "_" in front.
// Empty when nothing usable is left. Code page 0 is the system's ANSI code
// page (CP_ACP).
std::string safe_file_name(std::string_view reported, unsigned code_page = 0);

// The lead bytes of a code page, as the system knows them.
frame::LeadBytes lead_bytes_of(unsigned code_page);

// Writes the bytes atomically to an ANSI path of the store.
bool write_store_file(const std::string& path, const char* bytes, size_t count);

}  // namespace quillnet

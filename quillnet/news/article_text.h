// An article's text as UTF-8, for a news session whose page asked for UTF-8:
// every stretch read in the charset its Content-Type declares (the
// article's own for a single-part body, each part's for a multipart one),
// undeclared 8-bit text as UTF-8 where valid and as the ANSI code page
// where not. Attachment marker lines name files of the store, whose names
// are in the ANSI code page, and are read as such. The stored copy itself
// is never changed: this is a view for the page only.
#pragma once

#include <string>
#include <string_view>

namespace quillnet {

// The first characters of a line that stands for an attachment in a stored
// copy; the rest of the line is the attachment's entry.
inline constexpr std::string_view kAttachmentMarker = "--Attachment--: ";

std::string article_text_to_utf8(std::string_view body, std::string_view contentType);

}  // namespace quillnet

// Saving the file parts of a multipart/form-data request body (RFC 7578) the
// way pages have always relied on: the boundary is the body's first line, and
// only parts whose field is named exactly "file" are saved.
//
// The walk is split from the disk work so that every rule about the bytes can
// be tested without a file system: walk_posted_body() only reads, and reads
// nothing outside the span it is given, whatever the body holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestle {

// One part named "file" as the walk found it. `name` is the posted file name
// after the backslash rule (not yet made safe); `complete` is false when the
// walk had to stop inside the part (no content start, no following boundary),
// and then the content span is empty.
struct PostedFilePart {
    std::string name;
    size_t content_begin = 0;
    size_t content_end = 0;
    bool complete = false;
};

// Why the walk ended.
enum class WalkEnd {
    closing_boundary,   // the boundary text followed by "--": the normal end
    no_more_boundary,   // no further boundary text (or too few bytes after it)
    no_line_end,        // the body holds no LF, so there is no boundary text
    empty_boundary,     // the first line is empty
    missing_marker,     // "Content-Disposition", "name=", "filename=" or the name's closing quote is missing
    incomplete_file,    // a file part without its "Content-Type:" line or without a boundary after its content
};

struct PostedWalk {
    std::vector<PostedFilePart> files;  // in body order; only the last may be incomplete
    WalkEnd end = WalkEnd::no_more_boundary;
};

PostedWalk walk_posted_body(std::span<const uint8_t> body);

// A posted name made fit to be created inside the target folder by the one
// safe-name rule (frame/safe_name.h) for names already cut from their path:
// cut after any "/", control characters and ":" (which would name an
// alternate data stream) and the other characters Windows refuses in names
// become "_", trailing dots and blanks (which Windows drops) are removed,
// and a device name gets a leading "_". An empty result means the name
// cannot be used at all (empty, "." or "..").
std::string safe_posted_name(std::string_view name);

// The whole save: walks the body and writes every complete file part into
// `folder` (wide, as the caller gave it). Each file is written under a
// temporary name in the folder and then renamed over its final name, so a
// failed write never leaves a truncated file under that name.
//
// Returns the text for the page: the name of the last file part saved (as
// it was saved), "" when the body holds no file part, or "Error: " and a
// reason when a file part could not be saved. `utf8` tells whether the text
// is UTF-8 (the posted name was) rather than ANSI.
struct PostedSaveResult {
    std::string text;
    bool utf8 = false;
};
PostedSaveResult save_posted_files(std::span<const uint8_t> body, std::wstring_view folder);

}  // namespace kestle

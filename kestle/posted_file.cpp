#include "kestle/posted_file.h"

#include <windows.h>

#include <string>

#include "frame/atomic_file.h"
#include "frame/text.h"

namespace kestle {
namespace {

std::string error_text(const char* reason, DWORD code) {
    return std::string("Error: ") + reason + " (" + std::to_string(code) + ")";
}

// Writes the bytes atomically to `target`. Returns "" or the error text for
// the page.
std::string write_replacing(const std::wstring& target, std::span<const uint8_t> data) {
    const frame::WriteFailure failure = frame::write_file_atomically(target, data.data(), data.size());
    switch (failure.step) {
        case frame::WriteStep::none: return {};
        case frame::WriteStep::create: return error_text("Cannot create file", failure.code);
        case frame::WriteStep::write: return error_text("Cannot write file", failure.code);
        case frame::WriteStep::replace: return error_text("Cannot replace file", failure.code);
    }
    return {};
}

}  // namespace

PostedSaveResult save_posted_files(std::span<const uint8_t> body, std::wstring_view folder_view) {
    const PostedWalk walk = walk_posted_body(body);
    PostedSaveResult result;
    std::wstring folder(folder_view);
    std::wstring prefix = folder;
    if (prefix.empty() || prefix.back() != L'\\') prefix += L'\\';

    for (const PostedFilePart& part : walk.files) {
        result.utf8 = frame::looks_like_utf8(part.name);
        if (!part.complete) {
            // A truncated upload: saving the bytes that came would pass a cut
            // file off as the upload.
            result = {"Error: Incomplete file part", false};
            break;
        }
        const std::string name = safe_posted_name(part.name);
        if (name.empty()) {
            result = {"Error: Bad file name", false};
            continue;
        }
        const std::wstring target = prefix + (result.utf8 ? frame::utf8_to_wide(name) : frame::ansi_to_wide(name));
        const std::string error =
            write_replacing(target, body.subspan(part.content_begin, part.content_end - part.content_begin));
        if (error.empty()) {
            result.text = name;
        } else {
            result = {error, false};
        }
    }
    return result;
}

}  // namespace kestle

// Files the article store makes from what a message says: names a sender
// chose, made safe to create inside a group folder, and whole files that a
// reader never sees half written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "frame/handles.h"  // with <windows.h>

namespace quillnet {

// The name a message gives an attachment, made safe to use as a file name in
// the group folder, or empty when nothing usable is left:
// - only the last path element counts (after the last "/" or "\"), so no
//   name reaches outside the folder;
// - a drive prefix, ":" (which would open an alternate data stream), control
//   characters and the other characters Windows refuses in names (< > " | ? *)
//   are removed, and trailing blanks and dots, which Windows drops, go too
//   (so "." and ".." end up empty);
// - device names (CON, PRN, AUX, NUL, COM0-9, LPT0-9, with any extension),
//   names that look like a stored article (digits, optionally after a "-")
//   the group list cache "NewsList.txt" and our own temporary files
//   ("~qn*.tmp") get a "_" in front.
// Multi-byte code pages are walked character by character, so a trail byte
// that equals "\" is not taken for a separator.
std::string safe_file_name(std::string_view reported, UINT code_page = CP_ACP);

// A file written under a temporary name in the folder of its final path and
// renamed over that path on commit, so a reader in another thread or process
// sees the old file or the whole new one, never part of it, and a crash
// leaves no truncated file under the final name. Dropped without a commit,
// it deletes its temporary file.
class ReplacingFile {
  public:
    explicit ReplacingFile(std::string path);
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    ~ReplacingFile();

    // The temporary file exists and every write so far succeeded.
    bool ok() const noexcept { return ok_; }
    bool write(const char* bytes, size_t count);
    // Closes the file and renames it over the final path; false, with the
    // temporary file gone, when anything failed.
    bool commit();

  private:
    std::string path_;
    std::string temporary_;
    frame::unique_file file_;
    bool ok_ = false;
};

// Writes the bytes to a new temporary file in the folder of `path`, then
// renames it over `path`, so a reader in another thread or process sees the
// old file or the whole new one, never part of it, and a crash leaves no
// truncated file under the final name. false, with nothing left behind, when
// any step fails.
bool write_file_replacing(const std::string& path, const char* bytes, size_t count);

}  // namespace quillnet

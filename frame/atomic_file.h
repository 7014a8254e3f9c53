// The one way the components write a file: under a temporary name in the
// folder of its final path, renamed over that path on commit. A reader in
// another thread or process sees the old file or the whole new one, never
// part of it, and a failed or interrupted write leaves no truncated file
// under the final name. Paths are wide, so any name the caller can spell
// can be written.
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>
#include <string>

#include "frame/handles.h"

namespace frame {

// Which step failed, with the Windows error code, so a caller can tell a
// page "Cannot create file (5)" rather than just "failed".
enum class WriteStep { none, create, write, replace };
struct WriteFailure {
    WriteStep step = WriteStep::none;
    DWORD code = 0;
    explicit operator bool() const noexcept { return step != WriteStep::none; }
};

class AtomicFile {
  public:
    explicit AtomicFile(std::wstring path);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // Dropped without a commit, the temporary file is deleted.
    ~AtomicFile();

    // The temporary file exists and every write so far succeeded.
    bool ok() const noexcept { return !failure_; }
    bool write(const void* bytes, size_t count);
    bool write(std::string_view text) { return write(text.data(), text.size()); }
    // Closes the file and renames it over the final path; false, with the
    // temporary file gone, when anything failed.
    bool commit();
    const WriteFailure& failure() const noexcept { return failure_; }

  private:
    std::wstring path_;
    std::wstring temporary_;
    unique_file file_;
    WriteFailure failure_;
};

// The whole file at once.
WriteFailure write_file_atomically(const std::wstring& path, std::span<const std::byte> bytes);
inline WriteFailure write_file_atomically(const std::wstring& path, const void* bytes, size_t count) {
    return write_file_atomically(path, {static_cast<const std::byte*>(bytes), count});
}

}  // namespace frame

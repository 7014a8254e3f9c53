#include "frame/atomic_file.h"

#include <atomic>
#include <cwchar>

namespace frame {
namespace {

std::atomic<unsigned> g_temporary_counter{0};

}  // namespace

AtomicFile::AtomicFile(std::wstring path) : path_(std::move(path)) {
    const size_t slash = path_.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : path_.substr(0, slash + 1);
    // A name no other writer uses: our process id and a counter, and a new
    // number if a file of that name is somehow there already. The safe-name
    // rule keeps every reported name off this pattern.
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS); ++attempt) {
        wchar_t name[64];
        std::swprintf(name, 64, L"~qn%lx-%x.tmp", static_cast<unsigned long>(::GetCurrentProcessId()),
                      g_temporary_counter.fetch_add(1));
        temporary_ = folder + name;
        file_.reset(::CreateFileW(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
        if (file_) return;
        error = ::GetLastError();
    }
    temporary_.clear();
    failure_ = {WriteStep::create, error};
}

AtomicFile::~AtomicFile() {
    file_.reset();
    if (!temporary_.empty()) ::DeleteFileW(temporary_.c_str());
}

bool AtomicFile::write(const void* bytes, size_t count) {
    const char* p = static_cast<const char*>(bytes);
    while (!failure_ && count > 0) {
        const DWORD chunk = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!::WriteFile(file_.get(), p, chunk, &written, nullptr))
            failure_ = {WriteStep::write, ::GetLastError()};
        else if (written == 0)
            failure_ = {WriteStep::write, ERROR_WRITE_FAULT};
        p += written;
        count -= written;
    }
    return !failure_;
}

bool AtomicFile::commit() {
    file_.reset();  // closed first: the rename needs the file free
    if (failure_) return false;
    // A reader that has the old file open (without FILE_SHARE_DELETE, as
    // most readers open; Wine refuses any open file) blocks the rename for
    // as long as it reads: a page listing NewsList.txt while another page
    // fetches it again. Such a reader lets go within moments, so the
    // rename is tried again for a while before the write counts as failed.
    constexpr int kTries = 100;  // 10 ms apart: a second at most
    for (int attempt = 1;; ++attempt) {
        if (::MoveFileExW(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) break;
        const DWORD error = ::GetLastError();
        const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                          error == ERROR_LOCK_VIOLATION;
        // A folder under the name is refused at once: it will not go away.
        const DWORD attributes = ::GetFileAttributesW(path_.c_str());
        const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        if (!held || folder || attempt == kTries) {
            failure_ = {WriteStep::replace, error};
            return false;
        }
        ::Sleep(10);
    }
    temporary_.clear();
    return true;
}

WriteFailure write_file_atomically(const std::wstring& path, std::span<const std::byte> bytes) {
    AtomicFile file(path);
    if (file.write(bytes.data(), bytes.size())) file.commit();
    return file.failure();
}

}  // namespace frame

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
    if (!::MoveFileExW(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        failure_ = {WriteStep::replace, ::GetLastError()};
        return false;
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

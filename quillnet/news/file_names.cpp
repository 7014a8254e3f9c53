#include "quillnet/news/file_names.h"

#include <atomic>
#include <cstdio>

#include "frame/handles.h"
#include "frame/ascii.h"

namespace quillnet {
namespace {

using frame::ascii::equals_nocase;

bool is_device_name(std::string_view name) noexcept {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    for (const char* d : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"})
        if (equals_nocase(base, d)) return true;
    if (base.size() == 4 && (equals_nocase(base.substr(0, 3), "COM") || equals_nocase(base.substr(0, 3), "LPT"))) {
        const unsigned char n = static_cast<unsigned char>(base[3]);
        // Windows also takes the superscript digits 1, 2 and 3 of the
        // Latin-1 code pages for port numbers.
        return (n >= '0' && n <= '9') || n == 0xB9 || n == 0xB2 || n == 0xB3;
    }
    return false;
}

bool looks_like_article_number(std::string_view name) noexcept {
    if (!name.empty() && name[0] == '-') name.remove_prefix(1);
    if (name.empty()) return false;
    for (char c : name)
        if (c < '0' || c > '9') return false;
    return true;
}

bool refused_in_names(unsigned char c) noexcept {
    return c < 0x20 || c == 0x7F || c == ':' || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' ||
           c == '*';
}

std::atomic<unsigned> g_temporary_counter{0};

}  // namespace

std::string safe_file_name(std::string_view reported, UINT code_page) {
    // Where the last path element starts, stepping over double-byte
    // characters whole.
    size_t start = 0;
    for (size_t i = 0; i < reported.size(); ++i) {
        const char c = reported[i];
        if (::IsDBCSLeadByteEx(code_page, static_cast<BYTE>(c)) && i + 1 < reported.size()) {
            ++i;
            continue;
        }
        if (c == '/' || c == '\\') start = i + 1;
    }
    std::string_view element = reported.substr(start);
    if (element.size() >= 2 && element[1] == ':' &&
        ((element[0] >= 'A' && element[0] <= 'Z') || (element[0] >= 'a' && element[0] <= 'z')))
        element.remove_prefix(2);

    std::string name;
    name.reserve(element.size() + 1);
    for (size_t i = 0; i < element.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(element[i]);
        if (::IsDBCSLeadByteEx(code_page, c) && i + 1 < element.size()) {
            name.push_back(element[i]);
            name.push_back(element[++i]);
            continue;
        }
        if (!refused_in_names(c)) name.push_back(static_cast<char>(c));
    }
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
    if (name.empty()) return name;
    const bool temporary_like = name.size() > 7 && equals_nocase(std::string_view(name).substr(0, 3), "~qn") &&
                                equals_nocase(std::string_view(name).substr(name.size() - 4), ".tmp");
    if (is_device_name(name) || looks_like_article_number(name) || equals_nocase(name, "NewsList.txt") ||
        temporary_like)
        name.insert(name.begin(), '_');
    return name;
}

ReplacingFile::ReplacingFile(std::string path) : path_(std::move(path)) {
    const size_t slash = path_.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    // A name no other writer uses: our process id and a counter, and a new
    // number if a file of that name is somehow there already.
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "~qn%lx-%x.tmp", static_cast<unsigned long>(::GetCurrentProcessId()),
                      g_temporary_counter.fetch_add(1));
        temporary_ = folder + name;
        file_.reset(::CreateFileA(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
        if (file_) {
            ok_ = true;
            return;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    temporary_.clear();
}

ReplacingFile::~ReplacingFile() {
    file_.reset();
    if (!temporary_.empty()) ::DeleteFileA(temporary_.c_str());
}

bool ReplacingFile::write(const char* bytes, size_t count) {
    while (ok_ && count > 0) {
        const DWORD chunk = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!::WriteFile(file_.get(), bytes, chunk, &written, nullptr) || written == 0) ok_ = false;
        bytes += written;
        count -= written;
    }
    return ok_;
}

bool ReplacingFile::commit() {
    file_.reset();  // closed first: the rename needs the file free
    if (!ok_ || !::MoveFileExA(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ok_ = false;
        return false;
    }
    temporary_.clear();
    return true;
}

bool write_file_replacing(const std::string& path, const char* bytes, size_t count) {
    ReplacingFile file(path);
    return file.write(bytes, count) && file.commit();
}

}  // namespace quillnet

#include "quillnet/news/group_folders.h"

#include <windows.h>
#include <direct.h>

#include <algorithm>
#include <cstring>

#include "frame/handles.h"
#include "frame/safe_name.h"

namespace quillnet {
namespace {

constexpr const char* kSettingsKey = "Software\\Yarrowfen\\Quillnet";
// An hour: longer than any news server keeps an idle reader.
constexpr DWORD kMaxConnectionReuseSeconds = 3600;

std::string read_text_value(HKEY key, const char* name) {
    char buffer[128] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return std::string();  // missing, or longer than the buffer
    if (type != REG_SZ) return std::string();
    // A stored value need not carry its terminating NUL.
    const size_t n = strnlen(buffer, std::min<size_t>(size, sizeof buffer));
    if (n >= sizeof buffer) return std::string();
    return std::string(buffer, n);
}

bool is_folder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ensure_folder(const std::string& path) {
    if (::CreateDirectoryA(path.c_str(), nullptr)) return true;
    return ::GetLastError() == ERROR_ALREADY_EXISTS && is_folder(path);
}

}  // namespace

StorageValues ReadStorageValues() {
    StorageValues values;
    frame::unique_hkey key;
    // The 64-bit view, which the 32-bit build on 64-bit Windows would not see
    // by default (it would read Wow6432Node): one pair of settings serves
    // both builds. 32-bit Windows ignores the flag.
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return values;
    values.wwwRoot = read_text_value(key.get(), "WWWRoot");
    values.dataRoot = read_text_value(key.get(), "DataRoot");
    DWORD seconds = 0, size = sizeof seconds, type = 0;
    if (::RegQueryValueExA(key.get(), "NewsConnectionReuse", nullptr, &type, reinterpret_cast<BYTE*>(&seconds),
                           &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof seconds)
        values.connectionReuseSeconds = static_cast<int>(std::min<DWORD>(seconds, kMaxConnectionReuseSeconds));
    return values;
}

std::string DeriveStorageRoot(std::string_view wwwRoot) {
    std::string root(wwwRoot);
    if (root.empty() || root.back() != '\\') root.push_back('\\');
    return root;
}

std::string DeriveDataFolder(std::string_view dataRoot) {
    std::string folder(dataRoot);
    if (!folder.empty() && folder.front() == '\\') folder.erase(0, 1);
    if (folder.empty() || folder.back() != '\\') folder.push_back('\\');
    return folder;
}

void ChangeToRootDrive(std::string_view storageRoot) {
    if (storageRoot.empty()) return;
    const char c = storageRoot.front();
    int drive = 0;
    if (c >= 'a' && c <= 'z') drive = c - 'a' + 1;
    if (c >= 'A' && c <= 'Z') drive = c - 'A' + 1;
    if (drive != 0) _chdrive(drive);
}

bool IsUsableStorageRoot(std::string_view root) {
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (root.size() >= 3 && letter(root[0]) && root[1] == ':' && root[2] == '\\') return true;
    return root.size() >= 5 && root[0] == '\\' && root[1] == '\\' && root[2] != '\\' && root[2] != '?' &&
           root[2] != '.';
}

bool IsCreatableFolderName(std::string_view part) { return frame::is_safe_name(part); }

std::mutex& StoreFolderLock() {
    static std::mutex lock;
    return lock;
}

int CreateGroupFolders(const std::string& base, std::string_view group, std::string& relative) {
    if (!::SetCurrentDirectoryA(base.c_str())) return -2;
    int result = 0;
    std::string folder = base;
    if (folder.empty() || folder.back() != '\\') folder.push_back('\\');
    size_t start = 0;
    for (;;) {
        const size_t dot = group.find('.', start);
        const std::string_view part = group.substr(start, dot == std::string_view::npos ? dot : dot - start);
        if (!IsCreatableFolderName(part)) {
            result = -2;
        } else {
            const std::string next = folder + std::string(part);
            if (ensure_folder(next) && ::SetCurrentDirectoryA(next.c_str())) {
                folder = next + "\\";
                relative.append(part);
                relative.push_back('\\');
            } else {
                result = -2;
            }
        }
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return result;
}

}  // namespace quillnet

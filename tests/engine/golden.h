// Golden files of tests/data and private temporary folders, for the decoder
// and attachment tests; and the lines of a CRLF text, for the encoder tests.
#pragma once

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/handles.h"

namespace qk_golden {

// The lines of a CRLF text, without their line ends.
inline std::vector<std::string> crlf_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// A path below tests/data as this Windows program sees it (Wine maps the
// Unix root to Z:).
inline std::string data_path(const std::string& relative) {
    std::string root = QK_TEST_DATA;
    if (!root.empty() && root[0] == '/') root = "Z:" + root;
    std::string path = root + "/" + relative;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// Whole file, or "<missing>" when it cannot be read.
inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

inline std::string golden(const std::string& relative) { return read_file(data_path(relative)); }

// Names in a folder (files and folders, without "." and "..").
inline std::vector<std::string> list_folder(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    frame::unique_find find(::FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!find) return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (::FindNextFileA(find.get(), &found));
    return names;
}

// Every file below a folder, as paths relative to it with "\" between.
inline void list_tree(const std::string& folder, const std::string& prefix, std::vector<std::string>& out) {
    for (const std::string& name : list_folder(folder)) {
        const std::string path = folder + "\\" + name;
        if (::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            list_tree(path, prefix + name + "\\", out);
        else
            out.push_back(prefix + name);
    }
}

inline void remove_tree(const std::string& folder) {
    for (const std::string& name : list_folder(folder)) {
        const std::string path = folder + "\\" + name;
        if (::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) remove_tree(path);
        else ::DeleteFileA(path.c_str());
    }
    ::RemoveDirectoryA(folder.c_str());
}

// A new empty folder under the temporary folder, removed with everything in
// it when the object goes.
class TempFolder {
  public:
    TempFolder() {
        char base[MAX_PATH];
        ::GetTempPathA(MAX_PATH, base);
        static unsigned counter = 0;
        for (;;) {
            path_ = std::string(base) + "qn-decode-" + std::to_string(::GetCurrentProcessId()) + "-" +
                    std::to_string(++counter);
            if (::CreateDirectoryA(path_.c_str(), nullptr)) break;
        }
    }
    ~TempFolder() { remove_tree(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    // Without a trailing backslash.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace qk_golden

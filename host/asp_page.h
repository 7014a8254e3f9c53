// An .asp page turned into one script for the platform's engine: include
// directives expanded, the literal HTML kept as numbered blocks that the
// script writes with Response.WriteBlock, <%= %> made into Response.Write,
// and a map from every script line back to the file and line it came from,
// so a script error names the place a page author can find.
// Plain C++: files are reached through a reader the caller supplies.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace host {

enum class Language { vbscript, jscript };

struct SourcePlace {
    std::string file;  // virtual path, e.g. /site/group.asp
    int line = 0;      // 1-based
};

struct CompiledPage {
    Language language = Language::vbscript;
    std::string script;               // UTF-8, the page's own bytes
    std::vector<std::string> blocks;  // literal text, by block number
    std::vector<std::string> files;   // every file read, the page first
    // For each script line (0-based): index into files and 1-based line.
    std::vector<std::pair<int, int>> lines;

    SourcePlace place_of(long script_line) const;
};

struct PageError {
    SourcePlace place;
    std::string message;
};

// Gives the bytes of a file by virtual path, or nothing when it is missing.
using SourceReader = std::function<std::optional<std::string>(const std::string& virtual_path)>;

// A virtual path made absolute against the folder of `from` (itself a
// virtual path) and normalised; empty when it would leave the web root or
// names something no file name may hold (a drive, a stream, a NUL).
std::string resolve_virtual(std::string_view from, std::string_view path);

// The deepest include nesting accepted; deeper means an include cycle.
inline constexpr int kMaxIncludeDepth = 16;

std::variant<CompiledPage, PageError> compile_page(const std::string& virtual_path, const SourceReader& read);

}  // namespace host

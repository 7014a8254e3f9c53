#include "host/asp_page.h"

#include "frame/ascii.h"

namespace host {
namespace {

using frame::ascii::equals_nocase;
using frame::ascii::is_space;
using frame::ascii::starts_with_nocase;

// The text of a page with its includes in place, and where each of its
// lines started.
struct Expanded {
    std::string text;
    std::vector<std::pair<int, int>> line_origin;  // per line of text
    std::vector<std::string> files;
};

struct Include {
    bool is_virtual = false;
    std::string path;
};

size_t skip_space(std::string_view s, size_t i) {
    while (i < s.size() && is_space(s[i])) ++i;
    return i;
}

// Reads `file="x"` or `virtual="x"` from the inside of an <!-- --> comment
// that starts with #include; nothing when the directive is malformed.
std::optional<Include> parse_include(std::string_view inside) {
    size_t i = skip_space(inside, 0);
    inside.remove_prefix(i);
    if (!starts_with_nocase(inside, "#include")) return std::nullopt;
    inside.remove_prefix(8);
    i = skip_space(inside, 0);
    Include inc;
    if (starts_with_nocase(inside.substr(i), "file")) {
        i += 4;
    } else if (starts_with_nocase(inside.substr(i), "virtual")) {
        inc.is_virtual = true;
        i += 7;
    } else {
        return std::nullopt;
    }
    i = skip_space(inside, i);
    if (i >= inside.size() || inside[i] != '=') return std::nullopt;
    i = skip_space(inside, i + 1);
    if (i >= inside.size() || (inside[i] != '"' && inside[i] != '\'')) return std::nullopt;
    const char quote = inside[i];
    const size_t end = inside.find(quote, i + 1);
    if (end == std::string_view::npos || end == i + 1) return std::nullopt;
    inc.path = std::string(inside.substr(i + 1, end - i - 1));
    if (skip_space(inside, end + 1) != inside.size()) return std::nullopt;
    return inc;
}

class Expander {
  public:
    Expander(const SourceReader& read, Expanded& out) : read_(read), out_(out) {}

    std::optional<PageError> file(const std::string& path, const SourcePlace& from, int depth) {
        if (depth > kMaxIncludeDepth)
            return PageError{from, "Include nesting deeper than " + std::to_string(kMaxIncludeDepth) +
                                       " levels (does a file include itself?)"};
        std::optional<std::string> source = read_(path);
        if (!source) return PageError{from, depth == 0 ? "Page not found" : "Include file not found: " + path};
        const int index = static_cast<int>(out_.files.size());
        out_.files.push_back(path);
        if (out_.line_origin.empty()) out_.line_origin.emplace_back(index, 1);
        const std::string_view s = *source;
        int line = 1;
        size_t copied = 0;
        auto copy = [&](size_t end) {
            for (size_t i = copied; i < end; ++i) {
                out_.text.push_back(s[i]);
                if (s[i] == '\n') out_.line_origin.emplace_back(index, ++line);
            }
            copied = end;
        };
        for (size_t next = 0, at; (at = s.find("<!--", next)) != std::string_view::npos;) {
            next = at + 4;
            const size_t close = s.find("-->", at + 4);
            const std::string_view inside = s.substr(at + 4, close == std::string_view::npos ? 0 : close - at - 4);
            const size_t hash = skip_space(s, at + 4);
            if (hash >= s.size() || s[hash] != '#' || !starts_with_nocase(s.substr(hash), "#include")) continue;
            copy(at);
            const SourcePlace here{path, line};
            std::optional<Include> inc;
            if (close != std::string_view::npos) inc = parse_include(inside);
            if (!inc) return PageError{here, "Bad include directive: expected <!-- #include file=\"...\" --> or virtual=\"...\""};
            const std::string target = resolve_virtual(inc->is_virtual ? "/" : path, inc->path);
            if (target.empty()) return PageError{here, "Include path leaves the web root: " + inc->path};
            if (auto error = file(target, here, depth + 1)) return error;
            // The directive's own line breaks still count in this file.
            for (size_t i = at; i < close + 3; ++i)
                if (s[i] == '\n') ++line;
            copied = next = close + 3;
        }
        copy(s.size());
        return std::nullopt;
    }

  private:
    const SourceReader& read_;
    Expanded& out_;
};

std::optional<Language> language_named(std::string_view name) {
    if (equals_nocase(name, "vbscript") || equals_nocase(name, "vbs")) return Language::vbscript;
    if (equals_nocase(name, "jscript") || equals_nocase(name, "javascript") || equals_nocase(name, "ecmascript"))
        return Language::jscript;
    return std::nullopt;
}

// Reads NAME=VALUE pairs of an <%@ %> directive; only Language matters here,
// the others (CodePage, EnableSessionState, ...) are accepted and ignored.
std::optional<std::string> directive_error(std::string_view d, Language& language) {
    size_t i = 0;
    while ((i = skip_space(d, i)) < d.size()) {
        const size_t name_start = i;
        while (i < d.size() && !is_space(d[i]) && d[i] != '=') ++i;
        const std::string_view name = d.substr(name_start, i - name_start);
        i = skip_space(d, i);
        if (i >= d.size() || d[i] != '=') return "Bad page directive: " + std::string(name) + " has no value";
        i = skip_space(d, i + 1);
        std::string_view value;
        if (i < d.size() && d[i] == '"') {
            const size_t end = d.find('"', i + 1);
            if (end == std::string_view::npos) return std::string("Bad page directive: unclosed quote");
            value = d.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            const size_t start = i;
            while (i < d.size() && !is_space(d[i])) ++i;
            value = d.substr(start, i - start);
        }
        if (equals_nocase(name, "language")) {
            const auto chosen = language_named(value);
            if (!chosen) return "Unknown script language: " + std::string(value);
            language = *chosen;
        }
    }
    return std::nullopt;
}

class ScriptWriter {
  public:
    explicit ScriptWriter(CompiledPage& page) : page_(page) {}

    // Source text, keeping the script's line breaks where the page has them.
    void source(std::string_view s, int& line) {
        for (char c : s) {
            if (c == '\r') continue;
            if (c == '\n') {
                ++line;
                end_line(line);
            } else {
                page_.script.push_back(c);
            }
        }
    }
    void text(std::string_view s) { page_.script.append(s); }
    void end_line(int line) {
        page_.script.push_back('\n');
        lines_.push_back(line);
    }
    std::vector<int>& lines() { return lines_; }

  private:
    CompiledPage& page_;
    std::vector<int> lines_{0};  // the line of the expanded text each script line comes from
};

}  // namespace

SourcePlace CompiledPage::place_of(long script_line) const {
    if (lines.empty()) return {files.empty() ? std::string() : files.front(), 0};
    if (script_line < 0) script_line = 0;
    if (static_cast<size_t>(script_line) >= lines.size()) script_line = static_cast<long>(lines.size() - 1);
    const auto [file, line] = lines[static_cast<size_t>(script_line)];
    return {file >= 0 && static_cast<size_t>(file) < files.size() ? files[static_cast<size_t>(file)] : std::string(),
            line};
}

std::string resolve_virtual(std::string_view from, std::string_view path) {
    std::vector<std::string> parts;
    auto add = [&](std::string_view s) -> bool {
        size_t i = 0;
        while (i <= s.size()) {
            size_t j = i;
            while (j < s.size() && s[j] != '/' && s[j] != '\\') ++j;
            const std::string_view part = s.substr(i, j - i);
            if (part == "..") {
                if (parts.empty()) return false;
                parts.pop_back();
            } else if (!part.empty() && part != ".") {
                for (char c : part)
                    if (c == ':' || c == '\0' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' ||
                        c == '|' || static_cast<unsigned char>(c) < 0x20)
                        return false;
                parts.emplace_back(part);
            }
            i = j + 1;
        }
        return true;
    };
    if (path.empty()) return {};
    if (path.front() != '/' && path.front() != '\\') {
        const size_t slash = from.find_last_of("/\\");
        if (!add(slash == std::string_view::npos ? std::string_view() : from.substr(0, slash))) return {};
    }
    if (!add(path)) return {};
    std::string out;
    for (const auto& p : parts) out += "/" + p;
    if (out.empty() || path.back() == '/' || path.back() == '\\') out += "/";
    return out;
}

std::variant<CompiledPage, PageError> compile_page(const std::string& virtual_path, const SourceReader& read) {
    Expanded expanded;
    if (auto error = Expander(read, expanded).file(virtual_path, {virtual_path, 0}, 0)) return *error;

    CompiledPage page;
    page.files = std::move(expanded.files);
    ScriptWriter out(page);
    const std::string_view s = expanded.text;
    auto place = [&](int line) {
        const auto [file, file_line] = expanded.line_origin[static_cast<size_t>(line)];
        return SourcePlace{page.files[static_cast<size_t>(file)], file_line};
    };
    auto count_lines = [](std::string_view t) {
        int n = 0;
        for (char c : t) n += c == '\n';
        return n;
    };

    // The language must be known before any block is written.
    const size_t first = s.find("<%");
    if (first != std::string_view::npos && first + 2 < s.size() && s[first + 2] == '@') {
        const size_t close = s.find("%>", first + 3);
        const int line = count_lines(s.substr(0, first));
        if (close == std::string_view::npos) return PageError{place(line), "Missing closing %> of the page directive"};
        if (auto message = directive_error(s.substr(first + 3, close - first - 3), page.language))
            return PageError{place(line), *message};
    }
    const bool vb = page.language == Language::vbscript;

    int line = 0;
    size_t at = 0;
    while (at < s.size()) {
        const size_t open = s.find("<%", at);
        const std::string_view literal = s.substr(at, open == std::string_view::npos ? std::string_view::npos : open - at);
        if (!literal.empty()) {
            const std::string call = "Response.WriteBlock" + std::string(vb ? " " : "(") +
                                     std::to_string(page.blocks.size()) + (vb ? "" : ");");
            page.blocks.emplace_back(literal);
            out.text(call);
            line += count_lines(literal);
            out.end_line(line);
        }
        if (open == std::string_view::npos) break;
        const size_t close = s.find("%>", open + 2);
        if (close == std::string_view::npos) return PageError{place(line), "Missing closing %> of a script block"};
        std::string_view code = s.substr(open + 2, close - open - 2);
        if (!code.empty() && code.front() == '@') {
            // Handled above when it leads the page; IIS refuses it anywhere else.
            if (open != first) return PageError{place(line), "The page directive must come first"};
            line += count_lines(code);
        } else if (!code.empty() && code.front() == '=') {
            code.remove_prefix(1);
            out.text("Response.Write(");
            out.source(code, line);
            out.text(vb ? ")" : ");");
        } else {
            out.source(code, line);
        }
        out.end_line(line);
        at = close + 2;
    }

    page.lines.clear();
    for (int l : out.lines()) page.lines.push_back(expanded.line_origin[static_cast<size_t>(l)]);
    return page;
}

}  // namespace host

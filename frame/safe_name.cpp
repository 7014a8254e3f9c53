#include "frame/safe_name.h"

#include <cstring>

#include "frame/ascii.h"

namespace frame {

using ascii::ends_with_nocase;
using ascii::equals_nocase;
using ascii::starts_with_nocase;

bool is_device_name(std::string_view name) noexcept {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    for (const char* d : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"})
        if (equals_nocase(base, d)) return true;
    if (base.size() == 4 && (starts_with_nocase(base, "COM") || starts_with_nocase(base, "LPT"))) {
        const unsigned char n = static_cast<unsigned char>(base[3]);
        return (n >= '0' && n <= '9') || n == 0xB9 || n == 0xB2 || n == 0xB3;
    }
    return false;
}

bool is_temporary_file_name(std::string_view name) noexcept {
    return name.size() > 7 && starts_with_nocase(name, "~qn") && ends_with_nocase(name, ".tmp");
}

bool is_refused_in_names(unsigned char c) noexcept {
    return c < 0x20 || c == 0x7F || (c != 0 && std::strchr("<>:\"/\\|?*", c) != nullptr);
}

std::string safe_name(std::string_view reported, NameSource source, const LeadBytes* lead) {
    // A lead byte and the byte after it are one character only where that
    // byte can be a trail byte: every double-byte code page starts its trail
    // bytes at 0x40 and none takes DEL. A lead byte before a control, a
    // blank, a dot or one of " * / : < > ? (or at the end) is no character
    // at all and is refused like one: kept, it would pair up with whatever
    // follows once a refused byte between them is dropped, and could leave
    // the trail byte of the next character (0x5C, the backslash, in code
    // page 932) standing on its own as a separator.
    const auto is_lead = [lead](char c) { return lead != nullptr && (*lead)[static_cast<unsigned char>(c)]; };
    const auto pair_at = [&is_lead](std::string_view s, size_t i) {
        if (i + 1 >= s.size() || !is_lead(s[i])) return false;
        const unsigned char trail = static_cast<unsigned char>(s[i + 1]);
        return trail >= 0x40 && trail != 0x7F;
    };
    std::string_view element = reported;
    if (source == NameSource::sender_path) {
        // Where the last path element starts, stepping over double-byte
        // characters whole.
        size_t start = 0;
        for (size_t i = 0; i < reported.size(); ++i) {
            if (pair_at(reported, i)) {
                ++i;
                continue;
            }
            if (reported[i] == '/' || reported[i] == '\\') start = i + 1;
        }
        element = reported.substr(start);
        if (element.size() >= 2 && element[1] == ':' && ascii::is_alpha(element[0])) element.remove_prefix(2);
    } else {
        const size_t slash = element.rfind('/');
        if (slash != std::string_view::npos) element.remove_prefix(slash + 1);
    }

    std::string name;
    name.reserve(element.size() + 1);
    for (size_t i = 0; i < element.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(element[i]);
        if (pair_at(element, i)) {
            name.push_back(element[i]);
            name.push_back(element[++i]);
        } else if (!is_lead(element[i]) && !is_refused_in_names(c)) {
            name.push_back(static_cast<char>(c));
        } else if (source == NameSource::plain_name) {
            name.push_back('_');
        }
    }
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
    if (name.empty()) return name;
    if (is_device_name(name) || is_temporary_file_name(name)) name.insert(name.begin(), '_');
    return name;
}

bool is_safe_name(std::string_view name) noexcept {
    if (name.empty() || name.size() > 255) return false;
    for (char c : name)
        if (is_refused_in_names(static_cast<unsigned char>(c))) return false;
    if (name.back() == '.' || name.back() == ' ') return false;
    return !is_device_name(name) && !is_temporary_file_name(name);
}

}  // namespace frame

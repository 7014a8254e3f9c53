#include "quillnet/news/file_names.h"

#include "frame/ascii.h"
#include "frame/atomic_file.h"
#include "frame/safe_name.h"
#include "frame/text.h"

namespace quillnet {
namespace {

bool looks_like_article_number(std::string_view name) noexcept {
    if (!name.empty() && name[0] == '-') name.remove_prefix(1);
    if (name.empty()) return false;
    for (char c : name)
        if (!frame::ascii::is_digit(c)) return false;
    return true;
}

frame::LeadBytes lead_bytes_of(UINT code_page) {
    frame::LeadBytes lead{};
    for (unsigned c = 0x80; c < 0x100; ++c) lead[c] = ::IsDBCSLeadByteEx(code_page, static_cast<BYTE>(c)) != 0;
    return lead;
}

}  // namespace

std::string safe_file_name(std::string_view reported, UINT code_page) {
    const frame::LeadBytes lead = lead_bytes_of(code_page);
    std::string name = frame::safe_name(reported, frame::NameSource::sender_path, &lead);
    if (!name.empty() && (looks_like_article_number(name) || frame::ascii::equals_nocase(name, "NewsList.txt")))
        name.insert(name.begin(), '_');
    return name;
}

bool write_store_file(const std::string& path, const char* bytes, size_t count) {
    return !frame::write_file_atomically(frame::ansi_to_wide(path), bytes, count);
}

}  // namespace quillnet

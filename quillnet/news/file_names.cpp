#include "quillnet/news/file_names.h"

#include "frame/ascii.h"
#include "quillnet/engine/charset.h"

namespace quillnet {
namespace {

bool looks_like_article_number(std::string_view name) noexcept {
    if (!name.empty() && name[0] == '-') name.remove_prefix(1);
    if (name.empty()) return false;
    for (char c : name)
        if (!frame::ascii::is_digit(c)) return false;
    return true;
}

}  // namespace

frame::LeadBytes lead_bytes_of(unsigned code_page) {
    frame::LeadBytes lead{};
    for (unsigned c = 0x80; c < 0x100; ++c) lead[c] = engine::is_lead_byte(code_page, static_cast<char>(c));
    return lead;
}

std::string safe_file_name(std::string_view reported, unsigned code_page) {
    const frame::LeadBytes lead = lead_bytes_of(code_page);
    std::string name = frame::safe_name(reported, frame::NameSource::sender_path, &lead);
    if (!name.empty() && (looks_like_article_number(name) || frame::ascii::equals_nocase(name, "NewsList.txt")))
        name.insert(name.begin(), '_');
    return name;
}

}  // namespace quillnet

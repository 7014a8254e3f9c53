#include "quillnet/engine/charset.h"

#include <string>

#include "frame/ascii.h"

namespace quillnet::engine {
namespace {

using frame::ascii::equals_nocase;

struct Named {
    const char* name;
    unsigned code_page;
};

// The charsets mail and news software writes, by their IANA names and the
// aliases seen in practice. The first entry of a code page is its preferred
// MIME name, spelled as IANA lists it, which is what we write; names are
// looked up in any case, first entry first. EUC-JP is read with 20932, the
// code page Windows converts it with; 51932 is the same charset by another
// number and is written under the same name.
constexpr Named kCharsets[] = {
    {"UTF-8", 65001},       {"utf8", 65001},        {"US-ASCII", 20127},     {"ascii", 20127},
    {"ISO-8859-1", 28591},  {"iso8859-1", 28591},   {"iso_8859-1", 28591},   {"latin1", 28591},
    {"ISO-8859-2", 28592},  {"ISO-8859-3", 28593},  {"ISO-8859-4", 28594},   {"ISO-8859-5", 28595},
    {"ISO-8859-6", 28596},  {"ISO-8859-7", 28597},  {"ISO-8859-8", 28598},   {"ISO-8859-9", 28599},
    {"ISO-8859-13", 28603}, {"ISO-8859-15", 28605}, {"windows-1250", 1250},  {"windows-1251", 1251},
    {"windows-1252", 1252}, {"windows-1253", 1253}, {"windows-1254", 1254},  {"windows-1255", 1255},
    {"windows-1256", 1256}, {"windows-1257", 1257}, {"windows-1258", 1258},  {"cp1250", 1250},
    {"cp1251", 1251},       {"cp1252", 1252},       {"windows-874", 874},    {"KOI8-R", 20866},
    {"KOI8-U", 21866},      {"Shift_JIS", 932},     {"shift-jis", 932},      {"sjis", 932},
    {"x-sjis", 932},        {"EUC-JP", 20932},      {"EUC-JP", 51932},       {"ISO-2022-JP", 50220},
    {"GB2312", 936},        {"gbk", 936},           {"x-gbk", 936},          {"GB18030", 54936},
    {"Big5", 950},          {"EUC-KR", 949},        {"ks_c_5601-1987", 949}, {"UTF-7", 65000},
    {"IBM437", 437},        {"cp437", 437},         {"IBM850", 850},         {"cp850", 850},
    {"IBM866", 866},        {"cp866", 866},
};

}  // namespace

unsigned code_page_of(std::string_view charset) noexcept {
    for (const Named& n : kCharsets)
        if (equals_nocase(charset, n.name)) return n.code_page;
    return 0;
}

std::string charset_of_code_page(unsigned code_page) {
    for (const Named& n : kCharsets)
        if (n.code_page == code_page) return n.name;
    return "windows-" + std::to_string(code_page);
}

}  // namespace quillnet::engine

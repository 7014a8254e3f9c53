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
// aliases seen in practice.
constexpr Named kCharsets[] = {
    {"utf-8", 65001},        {"utf8", 65001},          {"us-ascii", 20127},      {"ascii", 20127},
    {"iso-8859-1", 28591},   {"iso8859-1", 28591},     {"iso_8859-1", 28591},    {"latin1", 28591},
    {"iso-8859-2", 28592},   {"iso-8859-3", 28593},    {"iso-8859-4", 28594},    {"iso-8859-5", 28595},
    {"iso-8859-6", 28596},   {"iso-8859-7", 28597},    {"iso-8859-8", 28598},    {"iso-8859-9", 28599},
    {"iso-8859-13", 28603},  {"iso-8859-15", 28605},   {"windows-1250", 1250},   {"windows-1251", 1251},
    {"windows-1252", 1252},  {"windows-1253", 1253},   {"windows-1254", 1254},   {"windows-1255", 1255},
    {"windows-1256", 1256},  {"windows-1257", 1257},   {"windows-1258", 1258},   {"cp1250", 1250},
    {"cp1251", 1251},        {"cp1252", 1252},         {"koi8-r", 20866},        {"koi8-u", 21866},
    {"shift_jis", 932},      {"shift-jis", 932},       {"sjis", 932},            {"x-sjis", 932},
    {"euc-jp", 20932},       {"iso-2022-jp", 50220},   {"gb2312", 936},          {"gbk", 936},
    {"x-gbk", 936},          {"gb18030", 54936},       {"big5", 950},            {"euc-kr", 949},
    {"ks_c_5601-1987", 949}, {"utf-7", 65000},         {"ibm437", 437},          {"cp437", 437},
    {"ibm850", 850},         {"cp850", 850},           {"cp866", 866},           {"ibm866", 866},
};

}  // namespace

unsigned code_page_of(std::string_view charset) noexcept {
    for (const Named& n : kCharsets)
        if (equals_nocase(charset, n.name)) return n.code_page;
    return 0;
}

}  // namespace quillnet::engine

// The names pages use for the components' numbers (site/constants.inc) are
// the type libraries' names with the same values, both ways, and the
// attachment marker is the reader's own: a page that compares against a
// renamed or renumbered value would otherwise go wrong without a sound.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "frame/handles.h"
#include "quillnet/news/article_text.h"

namespace {

struct Names {
    std::map<std::string, long> numbers;
    std::map<std::string, std::string> texts;
};

// Every Const line of the include: a whole number or a quoted text.
Names read_include() {
    std::ifstream in(QK_SITE_DIR "/constants.inc");
    EXPECT_TRUE(in.is_open()) << QK_SITE_DIR "/constants.inc";
    const std::regex number(R"(^\s*Const\s+(\w+)\s*=\s*(-?\d+)\s*('.*)?$)", std::regex::icase);
    const std::regex text(R"re(^\s*Const\s+(\w+)\s*=\s*"((?:[^"]|"")*)"\s*('.*)?$)re", std::regex::icase);
    const std::regex any(R"(^\s*Const\s)", std::regex::icase);
    Names names;
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (std::regex_match(line, m, number)) {
            names.numbers[m[1]] = std::stol(m[2]);
        } else if (std::regex_match(line, m, text)) {
            names.texts[m[1]] = std::regex_replace(m[2].str(), std::regex("\"\""), "\"");
        } else {
            EXPECT_FALSE(std::regex_search(line, any)) << "a Const this test cannot read: " << line;
        }
    }
    return names;
}

std::string narrow(const wchar_t* s) {
    std::string out;
    for (; s && *s; ++s) out += static_cast<char>(*s);
    return out;
}

// The members of one enum of a DLL's embedded type library, by name.
std::map<std::string, long> enum_members(const wchar_t* dll, const char* enumName) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring file(path);
    file = file.substr(0, file.find_last_of(L"\\/") + 1) + dll;
    frame::com_ptr<ITypeLib> lib;
    EXPECT_EQ(S_OK, LoadTypeLibEx(file.c_str(), REGKIND_NONE, lib.put())) << narrow(file.c_str());
    std::map<std::string, long> members;
    if (!lib) return members;
    bool found = false;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        BSTR name = nullptr, help = nullptr;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_ENUM) continue;
        lib->GetDocumentation(i, &name, &help, nullptr, nullptr);
        const std::string n = narrow(name), h = narrow(help);
        SysFreeString(name);
        SysFreeString(help);
        if (n != enumName) continue;
        found = true;
        EXPECT_EQ(0u, h.find(n + ": ")) << "the help of " << n << " names it and says what it is: " << h;
        frame::com_ptr<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        if (FAILED(lib->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&attr))) continue;
        for (WORD v = 0; v < attr->cVars; ++v) {
            VARDESC* var = nullptr;
            if (FAILED(info->GetVarDesc(v, &var))) continue;
            BSTR member = nullptr;
            UINT got = 0;
            info->GetNames(var->memid, &member, 1, &got);
            EXPECT_EQ(VAR_CONST, var->varkind);
            VARIANT value;
            VariantInit(&value);
            if (var->lpvarValue && SUCCEEDED(VariantChangeType(&value, var->lpvarValue, 0, VT_I4)))
                members[narrow(member)] = V_I4(&value);
            else
                ADD_FAILURE() << narrow(member) << " has no whole-number value";
            SysFreeString(member);
            info->ReleaseVarDesc(var);
        }
        info->ReleaseTypeAttr(attr);
    }
    EXPECT_TRUE(found) << "no enum " << enumName << " in the type library of " << narrow(dll);
    return members;
}

TEST(SiteNames, IncludeAndTypeLibrariesNameTheSameNumbers) {
    ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
    const Names include = read_include();
    std::map<std::string, long> library;
    for (auto [dll, name] : {std::pair{L"Quillnet.dll", "MoreInfoItem"}, std::pair{L"Quillnet.dll", "SessionResult"},
                             std::pair{L"KestleDLL.dll", "ImageStatus"}}) {
        const auto members = enum_members(dll, name);
        EXPECT_FALSE(members.empty()) << name;
        for (const auto& [member, value] : members) {
            EXPECT_TRUE(library.emplace(member, value).second) << member << " is in two enums";
            const auto it = include.numbers.find(member);
            if (it == include.numbers.end())
                ADD_FAILURE() << name << "." << member << " = " << value << " has no Const in site/constants.inc";
            else
                EXPECT_EQ(value, it->second) << member;
        }
    }
    for (const auto& [constName, value] : include.numbers)
        EXPECT_TRUE(library.count(constName)) << "Const " << constName << " = " << value
                                              << " is in no enum of the type libraries";
    CoUninitialize();
}

TEST(SiteNames, AttachmentMarkerIsTheReadersOwn) {
    const Names include = read_include();
    ASSERT_EQ(1u, include.texts.size()) << "the only text Const is the marker";
    ASSERT_TRUE(include.texts.count("AttachmentMarker"));
    EXPECT_EQ(std::string(quillnet::kAttachmentMarker), include.texts.at("AttachmentMarker"));
}

}  // namespace

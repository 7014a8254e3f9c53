#include "frame/registrar.h"

#include <cwctype>
#include <stdexcept>

#include "frame/handles.h"
#include "frame/text.h"

namespace frame::registrar {
namespace {

class Lexer {
  public:
    Lexer(std::wstring_view text, const Replacements& replacements)
        : text_(text), replacements_(replacements) {}

    // Returns the next token; quoted strings come back unquoted with tokens
    // replaced. `quoted` tells the caller which kind it got.
    bool next(std::wstring& token, bool& quoted) {
        skip_space();
        if (pos_ >= text_.size()) return false;
        quoted = false;
        const wchar_t c = text_[pos_];
        if (c == L'{' || c == L'}' || c == L'=') {
            token.assign(1, c);
            ++pos_;
            return true;
        }
        if (c == L'\'') {
            quoted = true;
            token = read_quoted();
            return true;
        }
        const size_t start = pos_;
        while (pos_ < text_.size() && !std::iswspace(text_[pos_]) && text_[pos_] != L'{' &&
               text_[pos_] != L'}' && text_[pos_] != L'=' && text_[pos_] != L'\'')
            ++pos_;
        token.assign(text_.substr(start, pos_ - start));
        token = substitute(token);
        return true;
    }

  private:
    void skip_space() {
        while (pos_ < text_.size() && std::iswspace(text_[pos_])) ++pos_;
    }
    std::wstring read_quoted() {
        std::wstring raw;
        ++pos_;  // opening quote
        for (;;) {
            if (pos_ >= text_.size()) throw std::runtime_error("unterminated quoted string");
            const wchar_t c = text_[pos_++];
            if (c == L'\'') {
                if (pos_ < text_.size() && text_[pos_] == L'\'') {  // '' is a quote
                    raw.push_back(L'\'');
                    ++pos_;
                    continue;
                }
                break;
            }
            raw.push_back(c);
        }
        return substitute(raw);
    }
    // Replacement happens after unquoting, so a module path holding a quote
    // cannot break the script's syntax.
    std::wstring substitute(const std::wstring& raw) const {
        std::wstring out;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != L'%') {
                out.push_back(raw[i]);
                continue;
            }
            const size_t end = raw.find(L'%', i + 1);
            if (end == std::wstring::npos) throw std::runtime_error("unterminated % token");
            if (end == i + 1) {  // %% is a percent sign
                out.push_back(L'%');
                i = end;
                continue;
            }
            const auto it = replacements_.find(raw.substr(i + 1, end - i - 1));
            if (it == replacements_.end()) throw std::runtime_error("unknown % token");
            out += it->second;
            i = end;
        }
        return out;
    }

    std::wstring_view text_;
    const Replacements& replacements_;
    size_t pos_ = 0;
};

class Parser {
  public:
    Parser(std::wstring_view text, const Replacements& r) : lex_(text, r) { advance(); }

    Script parse_script() {
        Script script;
        while (have_) {
            Root root;
            root.hive = hive_for(expect_word());
            expect(L"{");
            while (!at(L"}")) root.keys.push_back(parse_key());
            expect(L"}");
            script.roots.push_back(std::move(root));
        }
        return script;
    }

  private:
    static bool same(const std::wstring& a, const wchar_t* b) { return _wcsicmp(a.c_str(), b) == 0; }

    static HKEY hive_for(const std::wstring& name) {
        if (same(name, L"HKCR") || same(name, L"HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
        if (same(name, L"HKCU") || same(name, L"HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
        if (same(name, L"HKLM") || same(name, L"HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
        throw std::runtime_error("unknown registry root");
    }

    Key parse_key() {
        Key key;
        bool quoted = false;
        std::wstring word = expect_word(&quoted);
        if (!quoted) {
            if (same(word, L"NoRemove")) key.flag = KeyFlag::no_remove;
            else if (same(word, L"ForceRemove")) key.flag = KeyFlag::force_remove;
            else if (same(word, L"Delete")) key.flag = KeyFlag::remove;
            if (key.flag != KeyFlag::none) word = expect_word();
        }
        if (word.empty() || word.find(L'\\') != std::wstring::npos)
            throw std::runtime_error("bad key name");
        key.name = word;
        if (at(L"=")) {
            advance();
            key.has_default = true;
            key.default_value = parse_typed_value();
        }
        if (at(L"{")) {
            advance();
            while (!at(L"}")) {
                if (!quoted_ && have_ && same(token_, L"val")) {
                    advance();
                    Value v;
                    v.name = expect_word();
                    expect(L"=");
                    const Value typed = parse_typed_value();
                    v.is_number = typed.is_number;
                    v.text = typed.text;
                    v.number = typed.number;
                    key.values.push_back(std::move(v));
                } else {
                    key.children.push_back(parse_key());
                }
            }
            expect(L"}");
        }
        return key;
    }

    Value parse_typed_value() {
        const std::wstring type = expect_word();
        Value v;
        const std::wstring data = expect_word();
        if (same(type, L"s")) {
            v.text = data;
        } else if (same(type, L"d")) {
            v.is_number = true;
            wchar_t* end = nullptr;
            v.number = static_cast<DWORD>(wcstoul(data.c_str(), &end, 0));
            if (!end || *end) throw std::runtime_error("bad number");
        } else {
            throw std::runtime_error("unknown value type");
        }
        return v;
    }

    bool at(const wchar_t* t) const { return have_ && !quoted_ && token_ == t; }
    void expect(const wchar_t* t) {
        if (!at(t)) throw std::runtime_error("unexpected token");
        advance();
    }
    std::wstring expect_word(bool* was_quoted = nullptr) {
        if (!have_ || (!quoted_ && (token_ == L"{" || token_ == L"}" || token_ == L"=")))
            throw std::runtime_error("expected a name");
        std::wstring w = token_;
        if (was_quoted) *was_quoted = quoted_;
        advance();
        return w;
    }
    void advance() {
        bool quoted = false;
        have_ = lex_.next(token_, quoted);
        quoted_ = have_ && quoted;
    }

    Lexer lex_;
    std::wstring token_;
    bool have_ = false;
    bool quoted_ = false;
};

HRESULT from_win32(LSTATUS status) { return HRESULT_FROM_WIN32(static_cast<DWORD>(status)); }

LSTATUS set_value(HKEY key, const Value& v) {
    if (v.is_number)
        return ::RegSetValueExW(key, v.name.empty() ? nullptr : v.name.c_str(), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&v.number), sizeof v.number);
    return ::RegSetValueExW(key, v.name.empty() ? nullptr : v.name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(v.text.c_str()),
                            static_cast<DWORD>((v.text.size() + 1) * sizeof(wchar_t)));
}

HRESULT register_key(HKEY parent, const Key& key) {
    if (key.flag == KeyFlag::remove) {
        const LSTATUS st = ::RegDeleteTreeW(parent, key.name.c_str());
        if (st == ERROR_SUCCESS) ::RegDeleteKeyW(parent, key.name.c_str());
        return S_OK;
    }
    if (key.flag == KeyFlag::force_remove) {
        if (::RegDeleteTreeW(parent, key.name.c_str()) == ERROR_SUCCESS)
            ::RegDeleteKeyW(parent, key.name.c_str());
    }
    unique_hkey handle;
    LSTATUS st = ::RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_READ | KEY_WRITE, nullptr, handle.put(), nullptr);
    if (st != ERROR_SUCCESS) return from_win32(st);
    if (key.has_default && (st = set_value(handle.get(), key.default_value)) != ERROR_SUCCESS)
        return from_win32(st);
    for (const Value& v : key.values)
        if ((st = set_value(handle.get(), v)) != ERROR_SUCCESS) return from_win32(st);
    for (const Key& child : key.children) {
        const HRESULT hr = register_key(handle.get(), child);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

void unregister_key(HKEY parent, const Key& key) {
    if (key.flag == KeyFlag::remove) return;
    if (key.flag == KeyFlag::force_remove) {
        if (::RegDeleteTreeW(parent, key.name.c_str()) == ERROR_SUCCESS)
            ::RegDeleteKeyW(parent, key.name.c_str());
        return;
    }
    unique_hkey handle;
    if (::RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, handle.put()) != ERROR_SUCCESS)
        return;
    for (const Key& child : key.children) unregister_key(handle.get(), child);
    if (key.flag == KeyFlag::no_remove) return;
    for (const Value& v : key.values) ::RegDeleteValueW(handle.get(), v.name.c_str());
    if (key.has_default) ::RegDeleteValueW(handle.get(), nullptr);
    // Anything left behind was put there by someone else: keep the key then.
    DWORD subkeys = 0, values = 0;
    if (::RegQueryInfoKeyW(handle.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                           nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        subkeys == 0 && values == 0) {
        handle.reset();
        ::RegDeleteKeyW(parent, key.name.c_str());
    }
}

}  // namespace

Script parse(std::wstring_view text, const Replacements& replacements) {
    Parser parser(text, replacements);
    return parser.parse_script();
}

HRESULT apply_register(const Script& script) noexcept {
    try {
        for (const Root& root : script.roots)
            for (const Key& key : root.keys) {
                const HRESULT hr = register_key(root.hive, key);
                if (FAILED(hr)) return hr;
            }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT apply_unregister(const Script& script) noexcept {
    try {
        for (const Root& root : script.roots)
            for (const Key& key : root.keys) unregister_key(root.hive, key);
    } catch (...) {
    }
    return S_OK;
}

HRESULT run_resource(HINSTANCE module, int script_id, bool register_mode,
                     const Replacements& replacements) noexcept {
    try {
        HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(script_id), L"REGISTRY");
        if (!res) return HRESULT_FROM_WIN32(::GetLastError());
        HGLOBAL loaded = ::LoadResource(module, res);
        const DWORD size = ::SizeofResource(module, res);
        const char* data = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
        if (!data) return HRESULT_FROM_WIN32(::GetLastError());
        // Scripts are stored as plain ASCII text.
        const std::wstring text = ansi_to_wide(std::string_view(data, size));
        const Script script = parse(text, replacements);
        return register_mode ? apply_register(script) : apply_unregister(script);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return register_mode ? E_FAIL : S_OK;
    }
}

}  // namespace frame::registrar

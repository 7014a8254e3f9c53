#include "frame/registry_script.h"

#include <cwchar>
#include <cwctype>
#include <stdexcept>

#include "frame/ascii.h"

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
    // Keywords are ASCII: a word with any other character is none of them.
    static bool same(const std::wstring& a, std::string_view keyword) {
        if (a.size() != keyword.size()) return false;
        std::string narrow(a.size(), '\0');
        for (size_t i = 0; i < a.size(); ++i) {
            if (a[i] > 0x7F) return false;
            narrow[i] = static_cast<char>(a[i]);
        }
        return ascii::equals_nocase(narrow, keyword);
    }

    static Hive hive_for(const std::wstring& name) {
        if (same(name, "HKCR") || same(name, "HKEY_CLASSES_ROOT")) return Hive::classes_root;
        if (same(name, "HKCU") || same(name, "HKEY_CURRENT_USER")) return Hive::current_user;
        if (same(name, "HKLM") || same(name, "HKEY_LOCAL_MACHINE")) return Hive::local_machine;
        throw std::runtime_error("unknown registry root");
    }

    Key parse_key() {
        Key key;
        bool quoted = false;
        std::wstring word = expect_word(&quoted);
        if (!quoted) {
            if (same(word, "NoRemove")) key.flag = KeyFlag::no_remove;
            else if (same(word, "ForceRemove")) key.flag = KeyFlag::force_remove;
            else if (same(word, "Delete")) key.flag = KeyFlag::remove;
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
                if (!quoted_ && have_ && same(token_, "val")) {
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
        if (same(type, "s")) {
            v.text = data;
        } else if (same(type, "d")) {
            v.is_number = true;
            wchar_t* end = nullptr;
            v.number = static_cast<uint32_t>(std::wcstoul(data.c_str(), &end, 0));
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

}  // namespace

Script parse(std::wstring_view text, const Replacements& replacements) {
    Parser parser(text, replacements);
    return parser.parse_script();
}

}  // namespace frame::registrar

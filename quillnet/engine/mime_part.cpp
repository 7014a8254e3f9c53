// MIME parts (RFC 2045, RFC 2046 section 5.1), encoded words (RFC 2047, read
// and written) and parameter value extensions (RFC 2231).
#include "quillnet/engine/mime_part.h"

#include <algorithm>
#include <map>

#include "quillnet/engine/charset.h"
#include "quillnet/engine/scan.h"
#include "frame/ascii.h"
#include "frame/parse.h"

namespace quillnet::engine {
namespace {

using frame::ascii::equals_nocase;
using frame::ascii::hex_value;
using frame::ascii::is_space;
using frame::ascii::lowered;
using frame::ascii::trim_space;

// Longest encoded word we read. RFC 2047 allows 75 characters; some mail
// programs write longer ones.
constexpr size_t kMaxWord = 1024;
// Longest encoded word we write: RFC 2047's limit.
constexpr size_t kMaxWrittenWord = 75;

// The line that starts at `from`: its text without the line end, and where
// the next line starts (npos after the last line).
struct Line {
    std::string_view text;
    size_t next;
};
Line line_at(std::string_view s, size_t from) noexcept {
    const size_t nl = find_byte(s, '\n', from);
    std::string_view text = s.substr(from, nl == std::string_view::npos ? std::string_view::npos : nl - from);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    return {text, nl == std::string_view::npos ? std::string_view::npos : nl + 1};
}

// Where the next line that begins with `delimiter` starts, from `from` on.
size_t find_delimiter_line(std::string_view s, std::string_view delimiter, size_t from) noexcept {
    while (from < s.size()) {
        const size_t at = find_text(s, delimiter, from);
        if (at == std::string_view::npos) return at;
        if (at == 0 || s[at - 1] == '\n') return at;
        from = at + 1;
    }
    return std::string_view::npos;
}

bool is_field_name(std::string_view s) noexcept {
    if (s.empty()) return false;
    for (char c : s)
        if (static_cast<unsigned char>(c) < 33 || static_cast<unsigned char>(c) > 126) return false;
    return true;
}

struct RawParam {
    std::string name;  // small letters
    std::string value; // unquoted
};

// The parameters after the first ";" of a structured value. Values may be
// tokens or quoted strings; an unquoted value with blanks in it (written by
// careless software) runs to the next ";".
std::vector<RawParam> read_params(std::string_view v) {
    std::vector<RawParam> params;
    size_t i = 0;
    bool quoted = false;
    for (; i < v.size(); ++i) {
        if (v[i] == '"') quoted = !quoted;
        else if (v[i] == ';' && !quoted) break;
    }
    while (i < v.size()) {
        while (i < v.size() && (v[i] == ';' || is_space(v[i]))) ++i;
        const size_t name_start = i;
        while (i < v.size() && v[i] != '=' && v[i] != ';') ++i;
        const std::string_view name = trim_space(v.substr(name_start, i - name_start));
        if (i >= v.size() || v[i] == ';') continue;
        ++i;
        while (i < v.size() && is_space(v[i])) ++i;
        std::string value;
        if (i < v.size() && v[i] == '"') {
            ++i;
            while (i < v.size() && v[i] != '"') {
                if (v[i] == '\\' && i + 1 < v.size()) ++i;
                value.push_back(v[i++]);
            }
            while (i < v.size() && v[i] != ';') ++i;
        } else {
            const size_t value_start = i;
            while (i < v.size() && v[i] != ';') ++i;
            value.assign(trim_space(v.substr(value_start, i - value_start)));
        }
        if (!name.empty()) params.push_back({lowered(name), std::move(value)});
    }
    return params;
}

std::string percent_decoded(std::string_view s) {
    std::string r;
    frame::percent_decode(s, r, frame::Escapes::lenient);
    return r;
}

// RFC 2231 extended value: charset'language'percent-encoded bytes. Returns
// the charset through `charset` (empty when the value has none).
std::string extended_value(std::string_view v, std::string* charset) {
    const size_t q1 = v.find('\'');
    const size_t q2 = q1 == std::string_view::npos ? q1 : v.find('\'', q1 + 1);
    if (q2 == std::string_view::npos) {
        if (charset) charset->clear();
        return percent_decoded(v);
    }
    if (charset) charset->assign(v.substr(0, q1));
    return percent_decoded(v.substr(q2 + 1));
}

bool decode_word_text(char encoding, std::string_view text, std::string& bytes) {
    if (encoding == 'b' || encoding == 'B') {
        ByteBuffer out;
        const Verdict v = decode_base64(text, out);
        if (v == Verdict::bad_data) return false;
        bytes.append(out.view());
        return true;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            bytes.push_back(' ');
        } else if (c == '=' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
            bytes.push_back(static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
            i += 2;
        } else {
            bytes.push_back(c);
        }
    }
    return true;
}

}  // namespace

std::string decode_encoded_words(std::string_view s, const WordReader& word, const PlainReader& plain) {
    std::string out;
    std::string pending;  // decoded bytes of adjacent words in one charset
    std::string pending_charset;
    size_t pending_from = 0;  // where those words are written in `s`
    size_t pending_to = 0;
    size_t run = 0;  // start of the text outside words not yet written
    bool after_word = false;
    auto flush = [&] {
        if (pending_to > pending_from && !word(pending_charset, pending, out))
            plain(s.substr(pending_from, pending_to - pending_from), out);
        pending.clear();
        pending_from = pending_to = 0;
    };
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == '=' && i + 1 < s.size() && s[i + 1] == '?') {
            // =?charset?encoding?text?= within kMaxWord characters, so text
            // full of "=?" costs no more than a bounded look at each.
            const std::string_view w = s.substr(i, kMaxWord);
            const size_t q1 = w.find('?', 2);
            const size_t q2 = q1 == std::string_view::npos ? q1 : w.find('?', q1 + 1);
            const size_t end = q2 == std::string_view::npos ? q2 : w.find("?=", q2 + 1);
            if (end != std::string_view::npos && q2 == q1 + 2) {
                std::string_view charset = w.substr(2, q1 - 2);
                const char encoding = w[q1 + 1];
                const std::string_view text = w.substr(q2 + 1, end - q2 - 1);
                const size_t star = charset.find('*');  // RFC 2231 language suffix
                if (star != std::string_view::npos) charset = charset.substr(0, star);
                std::string bytes;
                const bool plain_word = !charset.empty() && text.find(' ') == std::string_view::npos &&
                                        charset.find(' ') == std::string_view::npos;
                if (plain_word && (encoding == 'b' || encoding == 'B' || encoding == 'q' || encoding == 'Q') &&
                    decode_word_text(encoding, text, bytes)) {
                    // Blanks between two words vanish; before the first word
                    // they are text like any other.
                    if (!after_word) plain(s.substr(run, i - run), out);
                    if (!equals_nocase(pending_charset, charset)) {
                        flush();
                        pending_charset.assign(charset);
                    }
                    if (pending_to == pending_from) pending_from = i;
                    pending += bytes;
                    i += end + 2;
                    pending_to = run = i;
                    after_word = true;
                    continue;
                }
            }
        }
        if (after_word && is_space(s[i])) {
            ++i;
            continue;
        }
        if (after_word) flush();
        after_word = false;
        ++i;
    }
    flush();
    plain(s.substr(run), out);
    return out;
}

std::string decode_encoded_words(std::string_view s) {
    return decode_encoded_words(
        s,
        [](std::string_view charset, std::string_view bytes, std::string& out) {
            out += charset_to_ansi(charset, bytes);
            return true;
        },
        [](std::string_view text, std::string& out) { out.append(text); });
}

std::string encode_words(std::string_view text, std::string_view charset, unsigned code_page, size_t first_used) {
    const std::string head = "=?" + std::string(charset) + "?B?";
    // Bytes one word can carry when it may be `width` characters long.
    auto capacity = [&](size_t width) {
        const size_t room = width > head.size() + 2 + 4 ? width - head.size() - 2 : 4;
        return std::max<size_t>(1, room / 4 * 3);
    };
    // A header line holding encoded words is at most 76 characters: the
    // first word shares its line with the header name, later ones follow a
    // folding blank.
    const size_t first_width = first_used + 1 < 76 ? std::min(kMaxWrittenWord, 76 - first_used) : 4;
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t n = std::min(capacity(out.empty() ? first_width : kMaxWrittenWord), text.size() - pos);
        // Walk the characters so a double-byte character stays whole.
        if (n < text.size() - pos) {
            size_t take = 0;
            while (take < n) {
                const size_t len = is_lead_byte(code_page, text[pos + take]) && pos + take + 1 < text.size() ? 2 : 1;
                if (take + len > n) break;
                take += len;
            }
            n = take > 0 ? take : n;
        }
        if (!out.empty()) out += "\r\n ";
        out += head + encode_base64(text.substr(pos, n)) + "?=";
        pos += n;
    }
    return out;
}

namespace {

// Bytes of the UTF-8 character that starts with `c` (1 for a byte that
// starts none, so damaged text still moves on).
size_t utf8_length(char c) noexcept {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0xF0 && u <= 0xF4 ? 4 : u >= 0xE0 ? 3 : u >= 0xC2 && u < 0xE0 ? 2 : 1;
}

// Characters RFC 2047 (5, rule 3) lets a "Q" word carry as themselves
// anywhere in a header, display names included; the blank becomes "_".
bool q_plain(char c) noexcept {
    return frame::ascii::is_alpha(c) || frame::ascii::is_digit(c) || c == '!' || c == '*' || c == '+' || c == '-' ||
           c == '/' || c == ' ';
}

}  // namespace

std::string encode_words_utf8(std::string_view text, size_t first_used) {
    size_t q_size = 0;
    for (const char c : text) q_size += q_plain(c) ? 1 : 3;
    const bool use_q = q_size <= (text.size() + 2) / 3 * 4;
    const std::string_view head = use_q ? "=?UTF-8?Q?" : "=?UTF-8?B?";
    const size_t first_width = first_used + 1 < 76 ? std::min(kMaxWrittenWord, 76 - first_used) : 4;
    // The smallest word a line must hold: one character of four bytes.
    const size_t min_width = head.size() + 2 + 12;
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t width = std::max(min_width, out.empty() ? first_width : kMaxWrittenWord);
        const size_t room = width - head.size() - 2;
        // As many whole characters as the word has room for.
        size_t n = 0, encoded = 0;
        while (pos + n < text.size()) {
            const size_t len = std::min(utf8_length(text[pos + n]), text.size() - pos - n);
            size_t cost = 0;
            if (use_q) {
                for (size_t k = 0; k < len; ++k) cost += q_plain(text[pos + n + k]) ? 1 : 3;
            } else {
                cost = (n + len + 2) / 3 * 4 - encoded;
            }
            if (encoded + cost > room && n > 0) break;
            n += len;
            encoded += cost;
        }
        if (!out.empty()) out += "\r\n ";
        out += head;
        const std::string_view piece = text.substr(pos, n);
        if (use_q) {
            for (const char c : piece) {
                if (c == ' ') {
                    out += '_';
                } else if (q_plain(c)) {
                    out += c;
                } else {
                    const auto u = static_cast<unsigned char>(c);
                    out += '=';
                    out += frame::ascii::kHexDigits[u >> 4];
                    out += frame::ascii::kHexDigits[u & 15];
                }
            }
        } else {
            out += encode_base64(piece);
        }
        out += "?=";
        pos += n;
    }
    return out;
}

std::string header_parameter(std::string_view value, std::string_view name) {
    const std::vector<RawParam> params = read_params(value);
    const std::string key = lowered(name);
    for (const RawParam& p : params) {
        if (p.name == key + "*") {
            std::string charset;
            std::string bytes = extended_value(p.value, &charset);
            return charset.empty() ? bytes : charset_to_ansi(charset, bytes);
        }
    }
    // Continuations: name*0, name*1*, ... in order of their numbers, each
    // percent-encoded when it carries a trailing "*".
    std::map<int, const RawParam*> sections;
    for (const RawParam& p : params) {
        if (p.name.size() <= key.size() + 1 || p.name.compare(0, key.size(), key) != 0 || p.name[key.size()] != '*')
            continue;
        std::string_view number = std::string_view(p.name).substr(key.size() + 1);
        if (!number.empty() && number.back() == '*') number.remove_suffix(1);
        int n = 0;
        if (frame::parse_decimal(number, n, 6) && (number.size() == 1 || number[0] != '0')) sections.emplace(n, &p);
    }
    if (!sections.empty() && sections.begin()->first == 0) {
        std::string bytes;
        std::string charset;
        int expected = 0;
        for (const auto& [n, p] : sections) {
            if (n != expected++) break;  // a gap ends the value
            const bool extended = p->name.back() == '*';
            if (!extended) bytes += p->value;
            else if (n == 0) bytes += extended_value(p->value, &charset);
            else bytes += percent_decoded(p->value);
        }
        return charset.empty() ? bytes : charset_to_ansi(charset, bytes);
    }
    for (const RawParam& p : params)
        if (p.name == key) return decode_encoded_words(p.value);
    return {};
}

MimeMessage::Part MimeMessage::read_part(std::string_view text, bool closed) {
    Part part;
    part.closed = closed;
    size_t at = 0;
    while (at != std::string_view::npos && at < text.size()) {
        const Line line = line_at(text, at);
        if (line.text.empty()) {  // the empty line between header and body
            at = line.next;
            break;
        }
        if ((line.text[0] == ' ' || line.text[0] == '\t') && !part.fields.empty()) {
            part.fields.back().value.append(line.text);  // a folded line
            at = line.next;
            continue;
        }
        const size_t colon = line.text.find(':');
        if (colon == std::string_view::npos || !is_field_name(line.text.substr(0, colon))) break;
        part.fields.push_back({line.text.substr(0, colon), std::string(trim_space(line.text.substr(colon + 1)))});
        at = line.next;
    }
    part.body = at == std::string_view::npos || at >= text.size() ? std::string_view() : text.substr(at);
    return part;
}

Verdict MimeMessage::parse(std::string_view text) {
    parts_.clear();
    if (text.substr(0, 2) != "--") {
        parts_.push_back(read_part(text, true));
        return Verdict::finished;
    }
    const Line first = line_at(text, 0);
    std::string_view delimiter = first.text;
    while (!delimiter.empty() && (delimiter.back() == ' ' || delimiter.back() == '\t')) delimiter.remove_suffix(1);
    size_t at = first.next;
    while (at != std::string_view::npos && at < text.size()) {
        const size_t next = find_delimiter_line(text, delimiter, at);
        if (next == std::string_view::npos) {
            parts_.push_back(read_part(text.substr(at), false));
            return Verdict::incomplete;
        }
        // The line end before the delimiter belongs to the delimiter.
        size_t body_end = next;
        if (body_end > at && text[body_end - 1] == '\n') --body_end;
        if (body_end > at && text[body_end - 1] == '\r') --body_end;
        parts_.push_back(read_part(text.substr(at, body_end - at), true));
        if (text.substr(next + delimiter.size(), 2) == "--") break;  // the closing delimiter
        at = line_at(text, next).next;
    }
    return parts_.empty() ? Verdict::bad_data : Verdict::finished;
}

std::string MimeMessage::header(size_t index, std::string_view field) const {
    if (index >= parts_.size()) return {};
    for (const Field& f : parts_[index].fields)
        if (equals_nocase(f.name, field)) return f.value;
    return {};
}

std::string_view MimeMessage::body(size_t index) const {
    return index < parts_.size() ? parts_[index].body : std::string_view();
}

std::string MimeMessage::part_filename(size_t index) const {
    return header_parameter(header(index, "Content-Disposition"), "filename");
}

std::string MimeMessage::part_name(size_t index) const {
    return header_parameter(header(index, "Content-Type"), "name");
}

ContentDecoder::ContentDecoder(std::string_view transfer_encoding) {
    std::string e = lowered(trim_space(transfer_encoding));
    const size_t cut = e.find_first_of(" \t;(");
    if (cut != std::string::npos) e.resize(cut);
    if (e == "base64") kind_ = Kind::base64;
    else if (e == "quoted-printable") kind_ = Kind::quoted_printable;
    else if (e.empty() || e == "7bit" || e == "8bit" || e == "binary") kind_ = Kind::identity;
    else if (e == "x-uuencode" || e == "x-uue" || e == "uuencode" || e == "x-uu") kind_ = Kind::uuencode;
    else kind_ = Kind::unknown;
}

void ContentDecoder::feed(std::string_view in, ByteBuffer& out) {
    switch (kind_) {
    case Kind::identity: out.append(in); break;
    case Kind::base64: base64_.feed(in, out); break;
    case Kind::quoted_printable: quoted_printable_.feed(in, out); break;
    case Kind::uuencode:
        while (leading_ && !in.empty() && is_space(in.front())) in.remove_prefix(1);
        if (!in.empty()) leading_ = false;
        uuencode_.feed(in, out);
        break;
    case Kind::unknown: break;
    }
}

Verdict ContentDecoder::finish(ByteBuffer& out) {
    switch (kind_) {
    case Kind::identity: return Verdict::finished;
    case Kind::base64: return base64_.finish(out);
    case Kind::quoted_printable: return quoted_printable_.finish(out);
    case Kind::uuencode: return uuencode_.finish(out);
    case Kind::unknown: break;
    }
    return Verdict::bad_data;
}

ContentDecoder MimeMessage::part_decoder(size_t index) const {
    return ContentDecoder(header(index, "Content-Transfer-Encoding"));
}

Verdict MimeMessage::decode_part(size_t index, ByteBuffer& out) const {
    if (index >= parts_.size()) return Verdict::bad_data;
    ContentDecoder decoder = part_decoder(index);
    decoder.feed(parts_[index].body, out);
    Verdict v = decoder.finish(out);
    if (v == Verdict::finished && !parts_[index].closed) v = Verdict::incomplete;
    return v;
}

}  // namespace quillnet::engine

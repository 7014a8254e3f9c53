// The streaming decoders against golden files: fed whole, one byte at a time
// and in uneven pieces, each must give the same bytes and the same verdict.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "golden.h"
#include "quillnet/engine/base64.h"
#include "quillnet/engine/crc32.h"
#include "quillnet/engine/quoted_printable.h"
#include "quillnet/engine/scan.h"
#include "quillnet/engine/uudecode.h"
#include "quillnet/engine/yenc.h"

using namespace quillnet::engine;
using qk_golden::crlf_lines;
using qk_golden::golden;

namespace {

struct Result {
    std::string bytes;
    Verdict verdict;
};

// piece 0: the whole input at once.
template <class Decoder>
Result run(std::string_view in, size_t piece, Decoder& d) {
    ByteBuffer out;
    if (piece == 0) {
        d.feed(in, out);
    } else {
        for (size_t i = 0; i < in.size(); i += piece) d.feed(in.substr(i, piece), out);
    }
    const Verdict v = d.finish(out);
    return {std::string(out.view()), v};
}

// Decodes whole, byte by byte, in pieces of 2, 3, 7, 64 and 4096, and in
// random pieces; all must agree with the expectation. Returns the decoder
// fed whole, for its other results.
template <class Decoder>
Decoder expect_all_ways(std::string_view in, const std::string& expected, Verdict verdict) {
    Decoder whole;
    const Result w = run(in, 0, whole);
    EXPECT_EQ(verdict_name(verdict), std::string(verdict_name(w.verdict)));
    EXPECT_EQ(expected.size(), w.bytes.size());
    EXPECT_TRUE(expected == w.bytes) << "whole input";
    for (size_t piece : {1, 2, 3, 7, 64, 4096}) {
        Decoder d;
        const Result r = run(in, piece, d);
        EXPECT_EQ(verdict_name(verdict), std::string(verdict_name(r.verdict))) << "pieces of " << piece;
        EXPECT_TRUE(expected == r.bytes) << "pieces of " << piece;
    }
    std::mt19937 random(7);
    Decoder d;
    ByteBuffer out;
    for (size_t i = 0; i < in.size();) {
        const size_t n = std::min<size_t>(in.size() - i, random() % 300);
        d.feed(in.substr(i, n), out);
        i += n;
    }
    const Verdict v = d.finish(out);
    EXPECT_EQ(verdict_name(verdict), std::string(verdict_name(v))) << "random pieces";
    EXPECT_TRUE(expected == std::string(out.view())) << "random pieces";
    return whole;
}

}  // namespace

TEST(Crc32, KnownValuesAndRunningSums) {
    EXPECT_EQ(0u, crc32("", 0));
    EXPECT_EQ(0xCBF43926u, crc32("123456789", 9));
    EXPECT_EQ(0xCBF43926u, crc32_portable("123456789", 9));
    EXPECT_EQ(0x414FA339u, crc32("The quick brown fox jumps over the lazy dog", 43));
    EXPECT_EQ(crc32("123456789", 9), crc32("6789", 4, crc32("12345", 5)));
}

TEST(Crc32, FastPathAgreesWithTablesAtEverySizeAndOffset) {
    std::mt19937 random(11);
    std::string data(70000, '\0');
    for (char& c : data) c = static_cast<char>(random());
    for (size_t offset = 0; offset < 17; ++offset) {
        for (size_t size : {0, 1, 15, 16, 63, 64, 65, 127, 128, 129, 1000, 4095, 65537}) {
            ASSERT_EQ(crc32_portable(data.data() + offset, size), crc32(data.data() + offset, size))
                << "offset " << offset << " size " << size;
        }
    }
    // Split anywhere, the running sum is the same.
    const uint32_t all = crc32(data.data(), data.size());
    for (size_t cut : {1, 63, 64, 1000, 69999})
        EXPECT_EQ(all, crc32(data.data() + cut, data.size() - cut, crc32(data.data(), cut)));
}

TEST(Base64, GoldenFilesWithLineBreaksAndNoise) {
    const std::string expected = golden("decode/payload.bin");
    ASSERT_NE("<missing>", expected);
    expect_all_ways<Base64Decoder>(golden("decode/payload.b64"), expected, Verdict::finished);
    // CRLF, blanks, tabs and "!" in the text are passed over.
    expect_all_ways<Base64Decoder>(golden("decode/payload_noisy.b64"), expected, Verdict::finished);
}

TEST(Base64, PadsAndLastQuanta) {
    expect_all_ways<Base64Decoder>("QQ==", "A", Verdict::finished);
    expect_all_ways<Base64Decoder>("QUI=", "AB", Verdict::finished);
    expect_all_ways<Base64Decoder>("QUJD", "ABC", Verdict::finished);
    expect_all_ways<Base64Decoder>("", "", Verdict::finished);
    // Whatever follows the pad is not data.
    expect_all_ways<Base64Decoder>("QQ==\nQUJD\n", "A", Verdict::finished);
    // A stray "=" before any quantum is noise.
    expect_all_ways<Base64Decoder>("=QUJD", "ABC", Verdict::finished);
    // Cut short: the whole bytes are kept, the verdict says so.
    expect_all_ways<Base64Decoder>("QUJDQQ", "ABCA", Verdict::incomplete);
    expect_all_ways<Base64Decoder>("QUJDQUJ", "ABCAB", Verdict::incomplete);
    expect_all_ways<Base64Decoder>("QUJDQ", "ABC", Verdict::incomplete);
    // A pad after one character cannot come from an encoder.
    expect_all_ways<Base64Decoder>("QUJDQ=", "ABC", Verdict::bad_data);
}

TEST(Base64, TruncatedGoldenKeepsWhatCameAndSaysIncomplete) {
    const std::string text = golden("decode/payload.b64");
    const std::string bytes = golden("decode/payload.bin");
    // Cut two characters into a quantum, well inside the data.
    size_t cut = 1000;
    size_t sextets = 0;
    for (size_t i = 0; i < cut; ++i)
        if (text[i] != '\n') ++sextets;
    while (sextets % 4 != 2) {
        if (text[cut] != '\n') ++sextets;
        ++cut;
    }
    expect_all_ways<Base64Decoder>(text.substr(0, cut), bytes.substr(0, sextets / 4 * 3 + 1), Verdict::incomplete);
}

TEST(QuotedPrintable, GoldenSampleAndBinaryPayload) {
    expect_all_ways<QuotedPrintableDecoder>(golden("decode/sample.qp"), golden("decode/sample.qp.out"),
                                            Verdict::finished);
    expect_all_ways<QuotedPrintableDecoder>(golden("decode/payload.qp"), golden("decode/payload.bin"),
                                            Verdict::finished);
}

TEST(QuotedPrintable, EndsInsideAnEscape) {
    expect_all_ways<QuotedPrintableDecoder>("abc=4", "abc=4", Verdict::incomplete);
    expect_all_ways<QuotedPrintableDecoder>("abc=", "abc", Verdict::finished);
    expect_all_ways<QuotedPrintableDecoder>("a = \tb", "a = \tb", Verdict::finished);
}

TEST(QuotedPrintable, EncodesLineByLineWithinSeventySixColumns) {
    EXPECT_EQ("caf=E9 =3D ok", encode_quoted_printable("caf\xe9 = ok"));
    EXPECT_EQ("a=20\r\nb=09\r\n", encode_quoted_printable("a \nb\t\r\n"));
    EXPECT_EQ("a\r\nb\r\n\r\nc", encode_quoted_printable("a\rb\n\r\nc"));
    const std::string long_line(200, '\xe9');
    const std::string encoded = encode_quoted_printable(long_line + "\n" + std::string(80, 'x'));
    std::string decoded;
    for (const std::string& line : crlf_lines(encoded)) {
        EXPECT_LE(line.size(), 76u) << line;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] != '=') {
                decoded += line[i];
            } else if (i + 1 == line.size()) {
                continue;  // soft break
            } else {
                decoded += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
                i += 2;
            }
        }
        if (line.empty() || line.back() != '=') decoded += '\n';
    }
    EXPECT_EQ(long_line + "\n" + std::string(80, 'x') + "\n", decoded);
}

// What we write, our own decoders read back byte for byte.
TEST(Encoders, RoundTripThroughTheDecoders) {
    std::mt19937 rng(7);
    for (size_t size : {0u, 1u, 2u, 3u, 4u, 77u, 1000u}) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        ByteBuffer out;
        EXPECT_EQ(Verdict::finished, decode_base64(encode_base64(bytes), out)) << size;
        EXPECT_EQ(bytes, out.view()) << size;
        // Quoted-printable carries text: its line ends go out as CR LF.
        std::string text = bytes;
        for (char& c : text)
            if (c == '\r' || c == '\n') c = ' ';
        text += " \n\tend =\n";
        ByteBuffer qp;
        EXPECT_EQ(Verdict::finished, decode_quoted_printable(encode_quoted_printable(text), qp)) << size;
        std::string expected;
        for (char c : text) expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
        EXPECT_EQ(expected, qp.view()) << size;
    }
}

TEST(Uudecode, GoldenFilesWithBackquotesAndWithStrippedBlanks) {
    const std::string expected = golden("decode/payload.bin");
    UuDecoder d = expect_all_ways<UuDecoder>(golden("decode/payload.uue"), expected, Verdict::finished);
    EXPECT_EQ("payload.bin", d.filename());
    EXPECT_EQ(0644, d.mode());
    // Blanks for zeros, the trailing ones stripped, the length-zero line
    // reduced to nothing.
    UuDecoder b = expect_all_ways<UuDecoder>(golden("decode/payload_blanks.uue"), expected, Verdict::finished);
    EXPECT_EQ(0600, b.mode());
}

TEST(Uudecode, BeginInAnyCaseEndAndWhatFollowsIt) {
    const std::string text = golden("decode/payload.uue");
    std::string caps = text;
    caps.replace(0, 5, "BEGIN");
    const std::string trailer = "more text\n";
    UuDecoder d = expect_all_ways<UuDecoder>(caps + trailer, golden("decode/payload.bin"), Verdict::finished);
    // Decoding stops at the end line: the text after it is not taken.
    EXPECT_EQ(text.size(), d.consumed());
    // "END" in capitals ends it as well.
    std::string upper = text;
    upper.replace(upper.size() - 4, 3, "END");
    expect_all_ways<UuDecoder>(upper, golden("decode/payload.bin"), Verdict::finished);
}

TEST(Uudecode, MissingEndLineAndTruncatedData) {
    const std::string text = golden("decode/payload.uue");
    const std::string bytes = golden("decode/payload.bin");
    // Without "end" (and even without the length-zero line) the data is all
    // there, and the verdict says the end is missing.
    expect_all_ways<UuDecoder>(text.substr(0, text.size() - 4), bytes, Verdict::incomplete);
    expect_all_ways<UuDecoder>(text.substr(0, text.size() - 6), bytes, Verdict::incomplete);
    // Cut after ten full lines.
    size_t cut = 0;
    for (int line = 0; line < 11; ++line) cut = text.find('\n', cut) + 1;
    expect_all_ways<UuDecoder>(text.substr(0, cut), bytes.substr(0, 450), Verdict::incomplete);
}

TEST(Uudecode, RefusesWhatIsNotUuencode) {
    const std::string text = golden("decode/payload.uue");
    size_t cut = 0;
    for (int line = 0; line < 3; ++line) cut = text.find('\n', cut) + 1;
    ByteBuffer out;
    // Prose after a cut block, a second begin line, no begin line, no mode.
    EXPECT_EQ(Verdict::bad_data, decode_uuencode(text.substr(0, cut) + "Thanks, see you\n", out));
    EXPECT_EQ(Verdict::bad_data, decode_uuencode(text.substr(0, cut) + "BEGIN 644 X\n" + text.substr(cut), out));
    EXPECT_EQ(Verdict::bad_data, decode_uuencode(text.substr(text.find('\n') + 1), out));
    EXPECT_EQ(Verdict::bad_data, decode_uuencode("begin here we go\n`\nend\n", out));
    // A data line longer than its length character allows.
    EXPECT_EQ(Verdict::bad_data, decode_uuencode("begin 644 a\n#" + std::string(40, '!') + "\n`\nend\n", out));
    // Text after the length-zero line that is not the end line.
    EXPECT_EQ(Verdict::bad_data, decode_uuencode("begin 644 a\n#86)C\n`\nsigned, me\nend\n", out));
    // A 10 MB line is refused without taking it in; so is a begin line
    // longer than any name, however the input comes.
    EXPECT_EQ(Verdict::bad_data, decode_uuencode("begin 644 a\n" + std::string(10 << 20, 'M') + "\nend\n", out));
    expect_all_ways<UuDecoder>("begin 644 " + std::string(70000, 'n') + "\n`\nend\n", "", Verdict::bad_data);
}

TEST(Uudecode, NameAndModeOfTheBeginLine) {
    ByteBuffer out;
    std::string name;
    EXPECT_EQ(Verdict::finished, decode_uuencode("begin 0755 my file.txt\r\n#86)C\r\n`\r\nend\r\n", out, &name));
    EXPECT_EQ("my file.txt", name);
    EXPECT_EQ("abc", std::string(out.view()));
    out.clear();
    EXPECT_EQ(Verdict::finished, decode_uuencode("begin 644\n`\nend\n", out, &name));
    EXPECT_EQ("", name);
}

TEST(Yenc, GoldenSinglePartAndItsChecks) {
    const std::string bytes = golden("decode/payload.bin");
    YencDecoder d = expect_all_ways<YencDecoder>(golden("decode/payload.yenc"), bytes, Verdict::finished);
    EXPECT_EQ("payload.bin", d.filename());
    EXPECT_FALSE(d.multipart());
    EXPECT_EQ(static_cast<int64_t>(bytes.size()), d.file_size());
    EXPECT_EQ(crc32(bytes.data(), bytes.size()), d.crc());
    expect_all_ways<YencDecoder>(golden("decode/payload_badcrc.yenc"), bytes, Verdict::crc_error);
    expect_all_ways<YencDecoder>(golden("decode/payload_badsize.yenc"), bytes, Verdict::bad_size);
}

TEST(Yenc, GoldenPartOfAMultiPartPost) {
    YencDecoder d = expect_all_ways<YencDecoder>(golden("decode/payload_second_piece.yenc"), golden("decode/payload_second_piece.bin"),
                                                 Verdict::finished);
    EXPECT_TRUE(d.multipart());
    EXPECT_EQ(1501, d.part_begin());
    EXPECT_EQ(3000, d.part_end());
}

TEST(Yenc, TruncatedNestedAndTrailingText) {
    const std::string text = golden("decode/payload.yenc");
    const size_t yend = text.find("\n=yend") + 1;
    const std::string bytes = golden("decode/payload.bin");
    // No "=yend": incomplete, every data byte kept.
    expect_all_ways<YencDecoder>(text.substr(0, yend), bytes, Verdict::incomplete);
    // A second "=ybegin" inside the data means the first was cut.
    ByteBuffer out;
    const size_t third_line = text.find('\n', text.find('\n', text.find('\n') + 1) + 1) + 1;
    EXPECT_EQ(Verdict::bad_data, decode_yenc(text.substr(0, third_line) + text, out));
    out.clear();
    EXPECT_EQ(Verdict::bad_data, decode_yenc("no header\n", out));
    out.clear();
    EXPECT_EQ(Verdict::bad_data, decode_yenc("=ybegin line=128 name=x\n", out));  // no size
    // What follows the trailer is not taken.
    YencDecoder d = expect_all_ways<YencDecoder>(text + "Posted with care\n", bytes, Verdict::finished);
    EXPECT_EQ(text.size(), d.consumed());
}

TEST(Yenc, EscapesAtLineStartsAndEnds) {
    // Bytes whose encoding is NUL, LF, CR, "=", TAB, blank and ".", at the
    // start and end of lines of 4.
    std::string raw;
    for (unsigned char v : {0, 10, 13, 61, 9, 32, 46}) raw.push_back(static_cast<char>(v - 42));
    std::string encoded = "=ybegin line=4 size=7 name=e.bin\n";
    std::string line;
    for (char b : raw) {
        line += '=';
        line += static_cast<char>(static_cast<unsigned char>(b) + 42 + 64);
        if (line.size() >= 4) {
            encoded += line + "\r\n";
            line.clear();
        }
    }
    encoded += line + "\n";
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", crc32(raw.data(), raw.size()));
    encoded += "=yend size=7 crc32=" + std::string(crc) + "\n";
    expect_all_ways<YencDecoder>(encoded, raw, Verdict::finished);
}

TEST(Scan, AgreesWithTheStandardSearchEverywhere) {
    std::mt19937 random(5);
    const std::string letters = "ab-\n=";
    for (int round = 0; round < 300; ++round) {
        std::string text(random() % 200, 'a');
        for (char& c : text) c = letters[random() % letters.size()];
        std::string needle(1 + random() % 5, 'a');
        for (char& c : needle) c = letters[random() % letters.size()];
        for (size_t from = 0; from <= text.size() + 1; from += 1 + random() % 7) {
            ASSERT_EQ(std::string_view(text).find(needle, from), find_text(text, needle, from))
                << "text [" << text << "] needle [" << needle << "] from " << from;
            ASSERT_EQ(std::string_view(text).find(needle[0], from), find_byte(text, needle[0], from));
        }
    }
    // Matches at the very end, and needles longer than the text.
    const std::string big = std::string(100000, 'x') + "\nend";
    EXPECT_EQ(100000u, find_text(big, "\nend"));
    EXPECT_EQ(std::string_view::npos, find_text("ab", "abc"));
}

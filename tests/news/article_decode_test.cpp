// Attachment extraction: the golden articles of tests/data/articles with
// real files in a private folder, names made safe, whole-file writes, and
// bodies built to break a careless implementation (markers longer than their
// blocks, thousands of blocks, 10 MB lines, failing writes).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <memory>
#include <string>
#include <vector>

#include "golden.h"
#include "quillnet/engine/mime_part.h"
#include "quillnet/engine/uudecode.h"
#include "quillnet/engine/yenc.h"
#include "quillnet/news/article_decode.h"
#include "quillnet/news/article_record.h"
#include "tests/support/uuencode.h"
#include "quillnet/news/file_names.h"

using qk_test::uuencode;
using quillnet::ArticleRecord;
using quillnet::decode_attachments;
using quillnet::FileSink;
using quillnet::safe_file_name;
using namespace qk_golden;

namespace {

const std::string kGroup = "news\\test\\group\\";

// The body as the news client builds it: line by line.
void fill(ArticleRecord& r, const std::string& body) {
    size_t at = 0;
    while (at < body.size()) {
        const size_t nl = body.find('\n', at);
        r.AppendLine(std::string_view(body).substr(at, (nl == std::string::npos ? body.size() : nl) - at));
        at = nl == std::string::npos ? body.size() : nl + 1;
    }
}

// Keeps files in memory; refuses to make the names it is told to, and fails
// the writes of others.
class MemoryFiles : public FileSink {
  public:
    class File : public quillnet::NewFile {
      public:
        File(MemoryFiles& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
        bool write(const char* bytes, size_t count) override {
            bytes_.append(bytes, count);
            return std::find(owner_.fail.begin(), owner_.fail.end(), name()) == owner_.fail.end();
        }
        bool commit() override {
            owner_.files[path_] = bytes_;
            ++owner_.writes;
            return true;
        }

      private:
        std::string name() const { return path_.substr(path_.find_last_of('\\') + 1); }
        MemoryFiles& owner_;
        std::string path_;
        std::string bytes_;
    };
    std::unique_ptr<quillnet::NewFile> create(const std::string& path) override {
        const std::string name = path.substr(path.find_last_of('\\') + 1);
        if (std::find(refuse.begin(), refuse.end(), name) != refuse.end()) return nullptr;
        return std::make_unique<File>(*this, path);
    }
    std::map<std::string, std::string> files;
    std::vector<std::string> refuse;
    std::vector<std::string> fail;
    int writes = 0;
};

std::string marker(const std::string& name) { return "--Attachment--: \\" + kGroup + name + "\n"; }

}  // namespace

class GoldenArticle : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenArticle, StoredTextFilesAndList) {
    const std::string name = GetParam();
    const std::string body = golden("articles/" + name + "/body.txt");
    const std::string stored = golden("articles/" + name + "/stored.txt");
    const std::string list = golden("articles/" + name + "/attachments.txt");
    ASSERT_NE("<missing>", body);
    const std::string files_folder = data_path("articles/" + name + "/files");
    std::vector<std::string> expected_files = list_folder(files_folder);

    TempFolder root;
    const std::string web_root = root.path() + "\\";
    ASSERT_TRUE(::CreateDirectoryA((web_root + "news").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((web_root + "news\\test").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((web_root + kGroup).c_str(), nullptr));

    // Twice: the second run overwrites the files of the first.
    for (int round = 0; round < 2; ++round) {
        ArticleRecord r;
        r.number = 1234;
        r.size = static_cast<int32_t>(body.size() / 2);
        fill(r, body);
        ASSERT_EQ(0, r.DecodeAttachments(web_root, kGroup));
        EXPECT_TRUE(stored == std::string(r.body())) << "round " << round << "\n" << std::string(r.body());
        EXPECT_EQ(static_cast<int32_t>(stored.size()), r.length());
        EXPECT_EQ('\0', r.text()[r.length()]);
        EXPECT_EQ(list, r.attachments);
        EXPECT_EQ(static_cast<int32_t>(std::count(list.begin(), list.end(), '\n')), r.attachmentCount);
        EXPECT_TRUE(stored == read_file(web_root + kGroup + "1234")) << "stored copy";
    }
    // Exactly the expected files, in the group folder and nowhere else, and
    // no temporary file left behind.
    std::vector<std::string> written;
    list_tree(root.path(), "", written);
    std::vector<std::string> wanted{kGroup + "1234"};
    for (const std::string& f : expected_files) wanted.push_back(kGroup + f);
    std::sort(written.begin(), written.end());
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(wanted, written);
    for (const std::string& f : expected_files)
        EXPECT_TRUE(read_file(files_folder + "\\" + f) == read_file(web_root + kGroup + f)) << f;
}

INSTANTIATE_TEST_SUITE_P(Articles, GoldenArticle,
                         ::testing::Values("mime_parts", "mime_words_after_80", "mime_no_delimiter",
                                           "mime_never_closed", "mime_truncated", "uu_begin_forms", "uu_no_end", "uu_no_end_signature",
                                           "uu_end_order", "uu_END_only", "uu_two_adjacent", "uu_two_apart",
                                           "uu_truncated", "yenc_blocks", "hostile_names", "hostile_mime_names",
                                           "zero_bytes"));

TEST(DecodeAttachments, EmptyBodyWritesNothing) {
    MemoryFiles files;
    ArticleRecord r;
    r.number = 5;
    EXPECT_EQ(-1, decode_attachments(r, "C:\\web\\", kGroup, files));
    EXPECT_EQ(0, files.writes);
    // A body of empty lines is not empty: it is stored.
    r.AppendLine("");
    EXPECT_EQ(0, decode_attachments(r, "C:\\web\\", kGroup, files));
    EXPECT_EQ("\n", files.files["C:\\web\\" + kGroup + "5"]);
}

TEST(DecodeAttachments, EmptyPartsBetweenAdjacentDelimiters) {
    // Empty parts (delimiter lines in a row) stay; the named parts after
    // them go.
    const std::string body =
        "MIME multipart\n--b\n--b\n--b\nContent-Type: text/plain; name=a.txt\n\nA\n--b\n--b\n"
        "Content-Type: text/plain; name=c.txt\n\nC\n--b--\n";
    ArticleRecord r;
    fill(r, body);
    MemoryFiles files;
    ASSERT_EQ(0, decode_attachments(r, "W\\", kGroup, files));
    EXPECT_EQ("MIME multipart\n--b\n--b\n" + marker("a.txt") + "--b\n" + marker("c.txt") + "--b--\n",
              std::string(r.body()));
    EXPECT_EQ("A", files.files["W\\" + kGroup + "a.txt"]);
    EXPECT_EQ("C", files.files["W\\" + kGroup + "c.txt"]);
}

TEST(DecodeAttachments, MarkersLongerThanTheirBlocksGrowTheBufferSafely) {
    // Blocks of 14 bytes become markers of well over 100: the text grows
    // while it is edited, with the unread rest moved out of the way.
    const std::string folder = "news\\" + std::string(120, 'g') + "\\";
    std::string body = "head\n";
    std::string expected = "head\n";
    for (int i = 0; i < 3000; ++i) {
        const std::string name = std::string("f").append(std::to_string(i));
        body.append(uuencode("", name)).append("x").append(std::to_string(i)).append("\n");
        expected.append("--Attachment--: \\").append(folder).append(name).append("\nx");
        expected.append(std::to_string(i)).append("\n");
    }
    ArticleRecord r;
    r.size = static_cast<int32_t>(body.size());  // the first buffer fits the body exactly
    fill(r, body);
    MemoryFiles files;
    ASSERT_EQ(0, decode_attachments(r, "C:\\w\\", folder, files));
    EXPECT_TRUE(expected == std::string(r.body()));
    EXPECT_EQ(3000, r.attachmentCount);
    EXPECT_GT(r.capacity(), r.length());
    EXPECT_EQ('\0', r.text()[r.length()]);
    EXPECT_EQ(3001u, files.files.size());
}

TEST(DecodeAttachments, ThousandsOfBlocksAndTheirFiles) {
    std::string body;
    std::string expected;
    std::map<std::string, std::string> wanted;
    for (int i = 0; i < 5000; ++i) {
        std::string bytes(100 + i % 50, '\0');
        for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(i * 31 + k * 7);
        const std::string name = std::string("b").append(std::to_string(i)).append(".bin");
        body.append(uuencode(bytes, name)).append("text ").append(std::to_string(i)).append("\n");
        expected.append(marker(name)).append("text ").append(std::to_string(i)).append("\n");
        wanted["W\\" + kGroup + name] = bytes;
    }
    ArticleRecord r;
    fill(r, body);
    MemoryFiles files;
    ASSERT_EQ(0, decode_attachments(r, "W\\", kGroup, files));
    EXPECT_TRUE(expected == std::string(r.body()));
    wanted["W\\" + kGroup + "0"] = expected;
    EXPECT_TRUE(wanted == files.files);
}

TEST(DecodeAttachments, AFileThatCannotBeWrittenLeavesItsBlockInTheText) {
    const std::string a = uuencode("first", "a.bin");
    const std::string b = uuencode("second", "b.bin");
    const std::string body = "x\n" + a + "y\n" + b + "z\n";
    ArticleRecord r;
    fill(r, body);
    MemoryFiles files;
    files.refuse = {"a.bin"};
    ASSERT_EQ(0, decode_attachments(r, "W\\", kGroup, files));
    EXPECT_EQ("x\n" + a + "y\n" + marker("b.bin") + "z\n", std::string(r.body()));
    EXPECT_EQ(1, r.attachmentCount);
    EXPECT_EQ("\\" + kGroup + "b.bin\n", r.attachments);
    // A write that fails half way (a full disk) does the same.
    ArticleRecord s;
    fill(s, body);
    MemoryFiles failing;
    failing.fail = {"b.bin"};
    ASSERT_EQ(0, decode_attachments(s, "W\\", kGroup, failing));
    EXPECT_EQ("x\n" + marker("a.bin") + "y\n" + b + "z\n", std::string(s.body()));
    EXPECT_EQ("\\" + kGroup + "a.bin\n", s.attachments);
}

TEST(DecodeAttachments, TenMegabyteLinesAndADelimiterOfDashes) {
    // A MIME body whose delimiter is a line of dashes, followed by a 10 MB
    // line of dashes (ten million overlapping delimiter occurrences), a
    // 10 MB line of text and a block after it.
    const std::string dashes(10 << 20, '-');
    const std::string text(10 << 20, 'x');
    const std::string block = uuencode("payload", "p.bin");
    const std::string body = "MIME multipart\n" + std::string(40, '-') + "\n" + dashes + "\n" + text + "\n" + block;
    ArticleRecord r;
    fill(r, body);
    MemoryFiles files;
    ASSERT_EQ(0, decode_attachments(r, "W\\", kGroup, files));
    // The block pass starts at the last occurrence, in the line of dashes.
    EXPECT_TRUE(body.substr(0, body.size() - block.size()) + marker("p.bin") == std::string(r.body()));
    EXPECT_EQ("payload", files.files["W\\" + kGroup + "p.bin"]);

    // A 10 MB line inside a uuencoded block and inside a yEnc block: both
    // stay, the text after them survives.
    const std::string uu_body = "begin 644 big.bin\n" + text + "\nend\nafter\n";
    const std::string y_body = "=ybegin line=128 size=5 name=y.bin\n" + text + "\n=yend size=5\nafter\n";
    for (const std::string& b : {uu_body, y_body}) {
        ArticleRecord s;
        fill(s, b);
        MemoryFiles f;
        ASSERT_EQ(0, decode_attachments(s, "W\\", kGroup, f));
        EXPECT_TRUE(b == std::string(s.body()));
        EXPECT_EQ(0, s.attachmentCount);
    }
}

TEST(DecodeAttachments, ManyDelimiterOccurrencesOnOneLineAreNotDecodedOneByOne) {
    // Each short stretch lies within one line: no part to decode, and the
    // text is left as it is.
    std::string line;
    for (int i = 0; i < 200000; ++i) line += "--b";
    const std::string body = "MIME multipart\n--b\nContent-Type: text/plain; name=a.txt\n\nA\n" + line + "\n";
    ArticleRecord r;
    fill(r, body);
    MemoryFiles files;
    ASSERT_EQ(0, decode_attachments(r, "W\\", kGroup, files));
    // The one real part ends at the first occurrence on the long line.
    EXPECT_TRUE("MIME multipart\n" + marker("a.txt") + line + "\n" == std::string(r.body()));
}

namespace {

bool begins_nocase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(s[i])) != std::toupper(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

struct Plain {
    std::string text;
    std::string list;
    std::map<std::string, std::string> files;
};

// The extraction done the plain way: each search over the whole current
// text, each replacement a new string. Slow, but every step is the rule as
// it reads; the single in-place pass must come to the same text, list and
// files.
Plain plain_extraction(std::string t, const std::string& web_root, const std::string& group) {
    using namespace quillnet::engine;
    constexpr size_t npos = std::string::npos;
    Plain out;
    auto cut = [&](size_t from, size_t to, const std::string& name, std::string_view bytes) {
        out.files[web_root + group + name] = std::string(bytes);
        out.list += "\\" + group + name + "\n";
        const std::string line = "--Attachment--: \\" + group + name + "\n";
        t = t.substr(0, from) + line + t.substr(to);
        return from + line.size();
    };
    size_t p = 0;
    std::string head = t.substr(0, 80);
    for (char& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (head.find("MIME") != npos && head.find("MULTI") != npos && head.find("PART") != npos) {
        p = t.compare(0, 2, "--") == 0 ? 0 : t.find("\n--");
        if (p == npos) {
            p = t.size();
        } else {
            if (t[p] == '\n') ++p;
            const size_t eol = t.find('\n', p);
            const std::string delimiter = t.substr(p, eol == npos ? npos : eol - p);
            for (size_t n; (n = t.find(delimiter, p + 1)) != npos; p = n) {
                const size_t line_end = t.find('\n', n);
                const std::string part = t.substr(p, (line_end == npos ? t.size() : line_end) - p);
                MimeMessage m;
                m.parse(part);
                if (m.part_count() == 0) continue;
                std::string name = m.part_filename(0);
                if (name.empty()) name = m.part_name(0);
                name = safe_file_name(name);
                ByteBuffer bytes;
                if (!name.empty() && m.decode_part(0, bytes) == Verdict::finished) n = cut(p, n, name, bytes.view());
            }
        }
    }
    while (p < t.size()) {
        const std::string_view line = std::string_view(t).substr(p);
        const bool uu = begins_nocase(line, "begin ");
        if (uu || line.substr(0, 8) == "=ybegin ") {
            size_t e = npos;
            size_t block_end = npos;
            if (uu) {
                for (const char* form : {"\nend", "\nEND", "\nEnd"})
                    if (e == npos) e = t.find(form, p);
            } else {
                e = t.find("\n=yend", p);
            }
            if (e != npos) {
                const size_t nl = t.find('\n', e + 1);
                block_end = nl == npos ? t.size() : nl + 1;
            } else if (uu) {
                block_end = t.size();
            }
            if (block_end != npos) {
                const std::string block = t.substr(p, block_end - p);
                ByteBuffer bytes;
                std::string name;
                bool good;
                if (uu) {
                    UuDecoder d;
                    d.feed(block, bytes);
                    const Verdict v = d.finish(bytes);
                    good = v == Verdict::incomplete || (v == Verdict::finished && d.consumed() == block.size()) ||
                           (v == Verdict::bad_data && e == npos && d.data_closed_by_text());
                    name = d.filename();
                } else {
                    YencDecoder d;
                    d.feed(block, bytes);
                    good = d.finish(bytes) == Verdict::finished && !d.multipart() && d.consumed() == block.size();
                    name = d.filename();
                }
                name = safe_file_name(name);
                if (good && !name.empty()) {
                    p = cut(p, block_end, name, bytes.view());
                    if (p >= t.size()) break;
                }
            }
        }
        const size_t nl = t.find('\n', p);
        if (nl == npos) break;
        p = nl + 1;
    }
    out.files[web_root + group + "0"] = t;
    out.text = std::move(t);
    return out;
}

}  // namespace

TEST(DecodeAttachments, AgreesWithAPlainRewriteOnMangledArticles) {
    std::vector<std::string> bodies;
    for (const char* name : {"mime_parts", "mime_truncated", "uu_begin_forms", "uu_end_order", "uu_truncated",
                             "yenc_blocks", "hostile_names", "zero_bytes"})
        bodies.push_back(golden(std::string("articles/") + name + "/body.txt"));
    const char* pieces[] = {"\n", "--", "begin 644 x\n", "\nend\n", "\nEND\n", "=ybegin size=3 name=q\n",
                            "\n=yend size=3\n", "------=_NextPart_000_0042_01C2", "MIME multipart\n", "`\n"};
    std::mt19937 random(3);
    for (int round = 0; round < 300; ++round) {
        std::string body = bodies[random() % bodies.size()];
        if (random() % 3 == 0) body += bodies[random() % bodies.size()];
        for (int k = random() % 8; k > 0 && !body.empty(); --k) {
            const size_t at = random() % body.size();
            switch (random() % 4) {
            case 0: body.insert(at, pieces[random() % 10]); break;
            case 1: body.erase(at, random() % 200); break;
            case 2: body[at] = "\n-bB`e="[random() % 7]; break;
            default: body.resize(at); break;
            }
        }
        if (body.empty()) continue;
        if (body.back() != '\n') body += '\n';  // as AppendLine leaves it
        const std::string group = random() % 2 ? "g\\" : "news\\" + std::string(random() % 300, 'x') + "\\";
        const Plain want = plain_extraction(body, "W\\", group);
        ArticleRecord r;
        r.size = random() % 2 ? static_cast<int32_t>(body.size()) : 10;
        fill(r, body);
        MemoryFiles files;
        ASSERT_EQ(0, decode_attachments(r, "W\\", group, files));
        ASSERT_TRUE(want.text == std::string(r.body())) << "round " << round;
        ASSERT_EQ(want.list, r.attachments) << "round " << round;
        ASSERT_TRUE(want.files == files.files) << "round " << round;
    }
}

TEST(SafeFileName, TheStoresOwnNamesAreKeptFree) {
    EXPECT_EQ("_1234", safe_file_name("1234"));
    EXPECT_EQ("_-1", safe_file_name("-1"));
    EXPECT_EQ("1234.txt", safe_file_name("1234.txt"));
    EXPECT_EQ("-", safe_file_name("-"));
    EXPECT_EQ("_NewsList.txt", safe_file_name("NewsList.txt"));
    EXPECT_EQ("_newslist.TXT", safe_file_name("dir/newslist.TXT"));
    // The shared rule still applies underneath.
    EXPECT_EQ("_con.txt", safe_file_name("a\\con.txt"));
}

TEST(SafeFileName, DoubleByteCharactersWithABackslashTrailByte) {
    // In code page 932, 0x95 0x5C is one character; its second byte is not
    // a path separator.
    EXPECT_EQ("\x95\x5C.txt", safe_file_name("dir\\\x95\x5C.txt", 932));
    EXPECT_EQ("x.txt", safe_file_name("dir\\\x95\\x.txt", 1252));
}

TEST(WriteWholeFile, ReplacesWholeAndLeavesNothingBehind) {
    TempFolder root;
    const std::string path = root.path() + "\\a.bin";
    EXPECT_EQ(0, ArticleRecord::WriteWholeFile(root.path() + "\\missing\\b.bin", "x", 1));
    EXPECT_EQ(0, ArticleRecord::WriteWholeFile(path, "via record", 10));
    EXPECT_EQ("via record", read_file(path));
    EXPECT_EQ(std::vector<std::string>{"a.bin"}, list_folder(root.path()));
}

// The one safe-name rule and the one file writer, shared by the article
// store, the upload saver and the thumbnailer.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "frame/atomic_file.h"
#include "frame/safe_name.h"
#include "frame/text.h"
#include "golden.h"

namespace {

using qk_golden::list_folder;
using qk_golden::read_file;
using qk_golden::TempFolder;

std::string sender(std::string_view name) { return frame::safe_name(name, frame::NameSource::sender_path); }
std::string plain(std::string_view name) { return frame::safe_name(name, frame::NameSource::plain_name); }
bool ok(const std::string& path, const char* bytes, size_t count) {
    return !frame::write_file_atomically(frame::ansi_to_wide(path), bytes, count);
}

}  // namespace

TEST(SafeName, SenderPathsDrivesAndOddCharacters) {
    EXPECT_EQ("x.exe", sender("../../x.exe"));
    EXPECT_EQ("x", sender("C:\\x"));
    EXPECT_EQ("x", sender("C:x"));
    EXPECT_EQ("share.txt", sender("\\\\server\\c$\\share.txt"));
    EXPECT_EQ("ab.txtstream", sender("ab.txt:stream"));
    EXPECT_EQ("tabs and bells.txt", sender("tabs\t and \abells.txt"));
    EXPECT_EQ("what.txt", sender("<what?>.txt|*\""));
    EXPECT_EQ("trail", sender("trail . ."));
    EXPECT_EQ(" lead.txt", sender(" lead.txt"));
    for (const char* none : {"", ".", "..", "...", "a/..", "a\\.", "C:", ":", "\x01\x02", "/", " . "})
        EXPECT_EQ("", sender(none)) << none;
}

TEST(SafeName, NamesThatMeanSomethingElse) {
    for (const char* device : {"CON", "con.txt", "Prn.log", "AUX", "nul.tar.gz", "COM1", "com9.x", "LPT1",
                               "lpt9", "CON .txt", "conin$", "COM\xb9"})
        EXPECT_EQ(std::string("_") + device, sender(device)) << device;
    for (const char* plain : {"CONSOLE.txt", "COM10", "LPT", "nullify", "comx"})
        EXPECT_EQ(plain, sender(plain)) << plain;
    EXPECT_EQ("_~qn1f-2.tmp", sender("~qn1f-2.tmp"));
}

TEST(SafeName, PlainNamesMadeSafeForTheTargetFolder) {
    EXPECT_EQ("photo.jpg", plain("photo.jpg"));
    EXPECT_EQ("evil.txt", plain("../../evil.txt"));
    EXPECT_EQ("x", plain("/etc/x"));
    EXPECT_EQ("a_b.txt", plain("a:b.txt"));       // no alternate data stream
    EXPECT_EQ("a_b_c_d_e_f", plain("a\tb\x01" "c<d|e?f"));
    EXPECT_EQ("_CON", plain("CON"));
    EXPECT_EQ("_nul.txt", plain("nul.txt"));
    EXPECT_EQ("_Com1 .tar.gz", plain("Com1 .tar.gz"));
    EXPECT_EQ("_LPT9", plain("LPT9"));
    EXPECT_EQ("COM10", plain("COM10"));
    EXPECT_EQ("CONSOLE.txt", plain("CONSOLE.txt"));
    EXPECT_EQ("name", plain("name. . "));
    EXPECT_EQ("", plain(""));
    EXPECT_EQ("", plain("."));
    EXPECT_EQ("", plain(".."));
    EXPECT_EQ("", plain("dir/.."));
    EXPECT_EQ("", plain(" ... "));
    EXPECT_EQ(".htaccess", plain(".htaccess"));
    EXPECT_EQ("Gr\xC3\xBC\xC3\x9F" "e.txt", plain("Gr\xC3\xBC\xC3\x9F" "e.txt"));
}

TEST(SafeName, AlreadySafeNamesAreRecognisedAsTheyStand) {
    for (const char* good : {"comp", "alt", "x-y_z", "CONSOLE", "COM10", "a b"})
        EXPECT_TRUE(frame::is_safe_name(good)) << good;
    for (const char* bad : {"", ".", "..", "a.", "a ", "CON", "com1", "a:b", "a/b", "a\\b", "a*", "\x01", "~qn1-2.tmp"})
        EXPECT_FALSE(frame::is_safe_name(bad)) << bad;
}

TEST(AtomicFile, ReplacesWholeAndLeavesNothingBehind) {
    TempFolder root;
    const std::string path = root.path() + "\\a.bin";
    ASSERT_TRUE(ok(path, "first version", 13));
    EXPECT_EQ("first version", read_file(path));
    std::string zeros("a\0b", 3);
    ASSERT_TRUE(ok(path, zeros.data(), zeros.size()));
    EXPECT_EQ(zeros, read_file(path));
    ASSERT_TRUE(ok(path, "", 0));
    EXPECT_EQ("", read_file(path));
    EXPECT_EQ(std::vector<std::string>{"a.bin"}, list_folder(root.path()));
    // Into a folder that does not exist: refused, nothing made.
    EXPECT_FALSE(ok(root.path() + "\\missing\\b.bin", "x", 1));
    EXPECT_EQ(std::vector<std::string>{"a.bin"}, list_folder(root.path()));
}

TEST(AtomicFile, AFailedWriteKeepsTheOldFileAndReportsTheStep) {
    TempFolder root;
    const std::wstring path = frame::ansi_to_wide(root.path() + "\\keep.bin");
    ASSERT_FALSE(frame::write_file_atomically(path, "old", 3));
    {
        frame::AtomicFile file(path);
        ASSERT_TRUE(file.write(std::string_view("half of the new")));
        // Dropped without a commit, as an interrupted writer would be.
    }
    EXPECT_EQ("old", read_file(root.path() + "\\keep.bin"));
    EXPECT_EQ(std::vector<std::string>{"keep.bin"}, list_folder(root.path()));
    const frame::WriteFailure missing =
        frame::write_file_atomically(frame::ansi_to_wide(root.path() + "\\no\\x.bin"), "x", 1);
    EXPECT_EQ(frame::WriteStep::create, missing.step);
    EXPECT_NE(0u, missing.code);
    // A folder standing where the file should go: the rename is refused.
    ::CreateDirectoryA((root.path() + "\\dir").c_str(), nullptr);
    const frame::WriteFailure blocked =
        frame::write_file_atomically(frame::ansi_to_wide(root.path() + "\\dir"), "x", 1);
    EXPECT_EQ(frame::WriteStep::replace, blocked.step);
    EXPECT_EQ((std::vector<std::string>{"dir", "keep.bin"}), list_folder(root.path()));
}

// Another page reading the old file while the new one is committed: the
// rename waits for the reader instead of failing the write.
TEST(AtomicFile, ACommitWaitsForAReaderOfTheOldFile) {
    TempFolder root;
    const std::wstring path = frame::ansi_to_wide(root.path() + "\\list.txt");
    ASSERT_FALSE(frame::write_file_atomically(path, "old", 3));
    HANDLE reader = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    // A thread procedure is WINAPI, which a lambda cannot be on 32-bit Windows.
    struct Reader {
        static DWORD WINAPI close_later(void* h) {
            ::Sleep(200);
            return ::CloseHandle(h) ? 0 : 1;
        }
    };
    HANDLE closer = ::CreateThread(nullptr, 0, &Reader::close_later, reader, 0, nullptr);
    ASSERT_NE(nullptr, closer);
    EXPECT_FALSE(frame::write_file_atomically(path, "new", 3));
    ::WaitForSingleObject(closer, INFINITE);
    ::CloseHandle(closer);
    EXPECT_EQ("new", read_file(root.path() + "\\list.txt"));
    EXPECT_EQ(std::vector<std::string>{"list.txt"}, list_folder(root.path()));
}

TEST(AtomicFile, WidePathsReachNamesTheCodePageCannotSpell) {
    TempFolder root;
    const std::wstring path = frame::ansi_to_wide(root.path()) + L"\\\u65e5\u672c.txt";
    ASSERT_FALSE(frame::write_file_atomically(path, "x", 1));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path.c_str()));
}

#include "app/Profile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

namespace orvi {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Utf16File(const std::u16string& s) {
    std::string out("\xFF\xFE", 2);
    for (char16_t c : s) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

struct ReadCase {
    const char* szName;
    std::string strFile;
    const char* szSection;
    const char* szKey;
    int32_t nExpectedInt;         // with default 77
    std::string strExpectedText;  // with default "dflt" and size 8
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.szName; }

class ProfileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRead, IntAndTextFollowTheProfileRules) {
    const ReadCase& c = GetParam();
    TempDir dir;
    std::string strPath = dir.file("ORVI2.ini");
    WriteFile(strPath, c.strFile);
    EXPECT_EQ(ReadProfileInt(strPath, c.szSection, c.szKey, 77), c.nExpectedInt);
    EXPECT_EQ(ReadProfileText(strPath, c.szSection, c.szKey, "dflt", 8), c.strExpectedText);
}

const std::string kBig(1 << 20, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileRead,
    ::testing::Values(ReadCase{"plain", "[CONFIG]\nA=12\n", "CONFIG", "A", 12, "12"},
                      ReadCase{"case_insensitive_names", "[config]\nwrite_log=1\n", "CONFIG", "WRITE_LOG", 1, "1"},
                      ReadCase{"missing_key", "[CONFIG]\nB=1\n", "CONFIG", "A", 77, "dflt"},
                      ReadCase{"missing_section", "[OTHER]\nA=1\n", "CONFIG", "A", 77, "dflt"},
                      ReadCase{"leading_digits", "[CONFIG]\nA=123abc\n", "CONFIG", "A", 123, "123abc"},
                      ReadCase{"negative", "[CONFIG]\nA=-42\n", "CONFIG", "A", -42, "-42"},
                      ReadCase{"plus_sign", "[CONFIG]\nA=+7\n", "CONFIG", "A", 7, "+7"},
                      ReadCase{"not_a_number", "[CONFIG]\nA=abc\n", "CONFIG", "A", 0, "abc"},
                      ReadCase{"empty_value", "[CONFIG]\nA=\n", "CONFIG", "A", 77, ""},
                      ReadCase{"blanks_around", "[CONFIG]\n  A =  12  \n", "CONFIG", "A", 12, "12"},
                      ReadCase{"saturates", "[CONFIG]\nA=99999999999\n", "CONFIG", "A", 2147483647, "9999999"},
                      ReadCase{"quotes_dropped", "[CONFIG]\nA=\"5 x\"\n", "CONFIG", "A", 5, "5 x"},
                      ReadCase{"cut_to_size_minus_one", "[CONFIG]\nA=abcdefghij\n", "CONFIG", "A", 0, "abcdefg"},
                      ReadCase{"cut_by_code_point",
                               "[CONFIG]\nA=\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\n",
                               "CONFIG", "A", 0, "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"},
                      ReadCase{"first_section_wins", "[CONFIG]\nA=1\n[CONFIG]\nA=2\nB=3\n", "CONFIG", "B", 77, "dflt"},
                      ReadCase{"first_key_wins", "[CONFIG]\nA=1\nA=2\n", "CONFIG", "A", 1, "1"},
                      ReadCase{"key_outside_section", "A=5\n[CONFIG]\n", "CONFIG", "A", 77, "dflt"},
                      ReadCase{"comment_line", "[CONFIG]\n;A=5\nA=6\n", "CONFIG", "A", 6, "6"},
                      ReadCase{"crlf", "[CONFIG]\r\nA=9\r\n", "CONFIG", "A", 9, "9"},
                      ReadCase{"no_final_newline", "[CONFIG]\nA=9", "CONFIG", "A", 9, "9"},
                      ReadCase{"utf8_bom", "\xEF\xBB\xBF[CONFIG]\nA=4\n", "CONFIG", "A", 4, "4"},
                      ReadCase{"utf16", Utf16File(u"[CONFIG]\r\nA=\u00e94\r\nB=5\r\n"), "CONFIG", "A", 0,
                               "\xC3\xA9"
                               "4"},
                      ReadCase{"utf16_odd_byte_count", Utf16File(u"[CONFIG]\nA=5\n") + "\x01", "CONFIG", "A", 5, "5"},
                      ReadCase{"megabyte_line", "[CONFIG]\nZ=" + kBig + "\nA=3\n", "CONFIG", "A", 3, "3"},
                      ReadCase{"megabyte_value", "[CONFIG]\nA=" + kBig + "\n", "CONFIG", "A", 0, "xxxxxxx"},
                      ReadCase{"binary_garbage", std::string("\x00\xFF[\x01\x02]\n\x80=\x00\n[CONFIG]\nA=1\x00", 24),
                               "CONFIG", "A", 1, std::string("1\x00", 2)}),
    [](const auto& info) { return std::string(info.param.szName); });

TEST(ProfileRead, MissingFileGivesDefaults) {
    TempDir dir;
    EXPECT_EQ(ReadProfileInt(dir.file("none.ini"), "CONFIG", "A", 5), 5);
    EXPECT_EQ(ReadProfileText(dir.file("none.ini"), "CONFIG", "A", "d", 512), "d");
    EXPECT_EQ(ReadProfileText(dir.file("none.ini"), "CONFIG", "A", "default", 4), "def");
}

struct WriteCase {
    const char* szName;
    std::string strBefore;
    const char* szKey;
    const char* szValue;
    std::string strAfter;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.szName; }

class ProfileWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWrite, ChangesOnlyTheKeyLine) {
    const WriteCase& c = GetParam();
    TempDir dir;
    std::string strPath = dir.file("ORVI2.ini");
    if (!c.strBefore.empty()) WriteFile(strPath, c.strBefore);
    ASSERT_TRUE(WriteProfileText(strPath, "CONFIG", c.szKey, c.szValue));
    EXPECT_EQ(ReadFile(strPath), c.strAfter);
    EXPECT_EQ(ReadProfileText(strPath, "CONFIG", c.szKey, "?", 512), c.szValue);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileWrite,
    ::testing::Values(
        WriteCase{"creates_file", "", "A", "1", "[CONFIG]\nA=1\n"},
        WriteCase{"replaces_in_place", "; keep me\n[CONFIG]\nA = old\nB=2\n", "a", "new",
                  "; keep me\n[CONFIG]\nA = new\nB=2\n"},
        WriteCase{"adds_key_after_last_line_of_section", "[CONFIG]\nA=1\n\n[OTHER]\nX=1\n", "B", "2",
                  "[CONFIG]\nA=1\nB=2\n\n[OTHER]\nX=1\n"},
        WriteCase{"adds_section", "[OTHER]\nX=1\n", "A", "1", "[OTHER]\nX=1\n[CONFIG]\nA=1\n"},
        WriteCase{"no_final_newline", "[CONFIG]\nA=1", "B", "2", "[CONFIG]\nA=1\nB=2\n"},
        WriteCase{"keeps_crlf", "[CONFIG]\r\nA=1\r\n", "B", "2", "[CONFIG]\r\nA=1\r\nB=2\r\n"},
        WriteCase{"replaces_crlf_line", "[CONFIG]\r\nA=1\r\nB=2\r\n", "A", "x", "[CONFIG]\r\nA=x\r\nB=2\r\n"},
        WriteCase{"keeps_utf8_bom", "\xEF\xBB\xBF[CONFIG]\nA=1\n", "A", "2", "\xEF\xBB\xBF[CONFIG]\nA=2\n"},
        WriteCase{"first_section_of_duplicates", "[CONFIG]\nA=1\n[CONFIG]\nA=2\n", "A", "3",
                  "[CONFIG]\nA=3\n[CONFIG]\nA=2\n"},
        WriteCase{"utf16_stays_utf16", Utf16File(u"[CONFIG]\r\nA=1\r\n; \u00e9\r\n"), "B", "\xC3\xA9",
                  Utf16File(u"[CONFIG]\r\nA=1\r\n; \u00e9\r\nB=\u00e9\r\n")}),
    [](const auto& info) { return std::string(info.param.szName); });

TEST(ProfileWrite, FailureIsReportedAndLeavesNoTemporaryFile) {
    TempDir dir;
    // A folder where the file should be cannot be replaced, even by root.
    std::string strPath = dir.file("ORVI2.ini");
    std::filesystem::create_directory(strPath);
    WriteFile(strPath + "/inside", "x");
    EXPECT_FALSE(WriteProfileText(strPath, "CONFIG", "A", "2"));
    EXPECT_EQ(test::ListFiles(dir.dir()), std::vector<std::string>{});
}

// The file is kept read between reads; every change a host can make between
// two images is seen by the next read, also one that keeps the size, and one
// whose times were set back to those of the version read before.
TEST(ProfileRead, EveryEditIsSeenByTheNextRead) {
    TempDir dir;
    const std::string strPath = dir.file("ORVI2.ini");
    auto age = [&](time_t nSeconds) {  // times well in the past: the version may be kept
        timespec t[2] = {{nSeconds, 0}, {nSeconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, strPath.c_str(), t, 0), 0);
    };
    WriteFile(strPath, "[CONFIG]\nIMAGE_NAME=A.RAW\n");
    age(1000000);
    EXPECT_EQ(ReadProfileText(strPath, "CONFIG", "IMAGE_NAME", "", 64), "A.RAW");
    EXPECT_EQ(ReadProfileText(strPath, "CONFIG", "IMAGE_NAME", "", 64), "A.RAW");
    {  // in place, same size, times set back: the change time still differs
        std::FILE* fp = std::fopen(strPath.c_str(), "r+");
        ASSERT_NE(fp, nullptr);
        std::fseek(fp, 20, SEEK_SET);
        std::fputc('B', fp);
        std::fclose(fp);
    }
    age(1000000);
    EXPECT_EQ(ReadProfileText(strPath, "CONFIG", "IMAGE_NAME", "", 64), "B.RAW");
    // Replaced by a rename (a new inode), and written by this module.
    WriteFile(dir.file("new.ini"), "[CONFIG]\nIMAGE_NAME=C.RAW\n");
    std::filesystem::rename(dir.file("new.ini"), strPath);
    age(1000000);
    EXPECT_EQ(ReadProfileText(strPath, "CONFIG", "IMAGE_NAME", "", 64), "C.RAW");
    ASSERT_TRUE(WriteProfileText(strPath, "CONFIG", "IMAGE_NAME", "D.RAW"));
    EXPECT_EQ(ReadProfileText(strPath, "CONFIG", "IMAGE_NAME", "", 64), "D.RAW");
    // Edited again at once, within the same clock tick: still seen.
    WriteFile(strPath, "[CONFIG]\nIMAGE_NAME=E.RAW\n");
    EXPECT_EQ(ReadProfileText(strPath, "CONFIG", "IMAGE_NAME", "", 64), "E.RAW");
    std::filesystem::remove(strPath);
    EXPECT_EQ(ReadProfileText(strPath, "CONFIG", "IMAGE_NAME", "gone", 64), "gone");
}

TEST(TextToInt, LeadingDigitsWithSign) {
    EXPECT_EQ(TextToInt("0"), 0);
    EXPECT_EQ(TextToInt("  1500ms"), 1500);
    EXPECT_EQ(TextToInt("-3"), -3);
    EXPECT_EQ(TextToInt("x1"), 0);
    EXPECT_EQ(TextToInt(""), 0);
    EXPECT_EQ(TextToInt("-99999999999"), -2147483647 - 1);
}

}  // namespace
}  // namespace orvi

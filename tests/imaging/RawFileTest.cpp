#include "imaging/FrameBuffer.h"
#include "imaging/RawFile.h"

#include "ImagingTestSupport.h"
#include "LiteralRules.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvi {
namespace {

using test::Frame;
using test::ListFiles;
using test::RandomFrame;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// ---- Names ----------------------------------------------------------------------

struct NameCase {
    const char* szPrefix;
    int64_t nMean;
    const char* szName;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.szPrefix << " " << c.nMean; }

class LevelNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(LevelNames, NameFromMeanAndLevelReadBack) {
    const NameCase& c = GetParam();
    std::string strName = LevelFileName(c.szPrefix, c.nMean);
    EXPECT_EQ(strName, c.szName);
    EXPECT_EQ(strName, literal::LevelFileName(std::string(c.szPrefix) == kPrefixDark, c.nMean));
    EXPECT_EQ(LevelFromFileName(strName, c.szPrefix), literal::LevelFromName(strName, c.szPrefix));
    if (c.nMean >= 0 && c.nMean <= 65535) {
        EXPECT_EQ(LevelFromFileName(strName, c.szPrefix), c.nMean);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Examples, LevelNames,
    ::testing::Values(NameCase{kPrefixDark, 7, "DARK_00007.RAW"}, NameCase{kPrefixDark, 0, "DARK_00000.RAW"},
                      NameCase{kPrefixDark, 9, "DARK_00009.RAW"}, NameCase{kPrefixDark, 10, "DARK_00010.RAW"},
                      NameCase{kPrefixDark, 99, "DARK_00099.RAW"}, NameCase{kPrefixDark, 100, "DARK_00100.RAW"},
                      NameCase{kPrefixDark, 999, "DARK_00999.RAW"}, NameCase{kPrefixDark, 1000, "DARK_01000.RAW"},
                      NameCase{kPrefixDark, 1234, "DARK_01234.RAW"}, NameCase{kPrefixDark, 9999, "DARK_09999.RAW"},
                      NameCase{kPrefixDark, 10000, "DARK_10000.RAW"}, NameCase{kPrefixDark, 12345, "DARK_12345.RAW"},
                      NameCase{kPrefixDark, 65535, "DARK_65535.RAW"},
                      NameCase{kPrefixBright, -12, "BRIGHT_0000-12.RAW"},
                      NameCase{kPrefixBright, -65535, "BRIGHT_0000-65535.RAW"},
                      NameCase{kPrefixBright, 1234, "BRIGHT_01234.RAW"},
                      NameCase{kPrefixBright, 10500, "BRIGHT_10500.RAW"},
                      // Only the low 32 bits are printed.
                      NameCase{kPrefixBright, (int64_t{1} << 32) + 5, "BRIGHT_5.RAW"}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(LevelFromFileName, ReadsTheNumberAfterThePrefix) {
    EXPECT_EQ(LevelFromFileName("BRIGHT_01234.RAW", kPrefixBright), 1234);
    EXPECT_EQ(LevelFromFileName("DARK_00007.RAW", kPrefixDark), 7);
    EXPECT_EQ(LevelFromFileName("BRIGHT_0000-12.RAW", kPrefixBright), 0);  // stops at the minus sign
    EXPECT_EQ(LevelFromFileName("DARK_00100.raw", kPrefixDark), 100);
    // A bright file read as the dark: its prefix is not stripped, the level is 0.
    EXPECT_EQ(LevelFromFileName("BRIGHT_02000.RAW", kPrefixDark), 0);
    for (const char* sz : {"BRIGHT_-5.raw", "DARK_raw", "DARK_", "", "BRIGHT_12x.RAW", "BRIGHT_ 5.RAW"})
        EXPECT_EQ(LevelFromFileName(sz, kPrefixBright), literal::LevelFromName(sz, kPrefixBright)) << sz;
    EXPECT_EQ(LevelFromFileName("BRIGHT_99999999999999.RAW", kPrefixBright), 2147483647);  // saturates
}

TEST(FrameLevels, MeansEqualTheLiteralRule) {
    Frame dark = RandomFrame(33, 17, 1);
    EXPECT_EQ(FrameMean(dark.data(), dark.size()), literal::Mean(dark.data(), dark.size()));
    Frame bright = RandomFrame(33, 17, 2);
    Frame a = dark, b = dark;
    int64_t nMean = BrightMinusDark(bright.data(), a.data(), a.size());
    EXPECT_EQ(nMean, literal::BrightMinusDark(bright.data(), b.data(), b.size()));
    EXPECT_EQ(a, b);
    // Darker than its dark: a negative mean, truncated toward zero.
    Frame low{100, 100, 100}, high{112, 113, 113};
    EXPECT_EQ(BrightMinusDark(low.data(), high.data(), 3), -12);
    EXPECT_EQ(high, (Frame{uint16_t(-12), uint16_t(-13), uint16_t(-13)}));
}

// ---- Calibration listing -------------------------------------------------------

TEST(CalibrationFiles, RecognisedByNameAndSortedFoldersSkipped) {
    TempDir dir;
    for (const char* sz : {"DARK_00100.RAW", "BRIGHT_02000.RAW", "BRIGHT_01000.RAW", "BPM.RAW", "notes.txt",
                           "bright_01000.raw", "DARK_old.raw", "IMAGE.RAW", "BRIGHT.txt"})
        WriteFile(dir.file(sz), "x");
    std::filesystem::create_directory(dir.path() / "BRIGHT_09999.RAW");
    EXPECT_EQ(ListCalibrationFiles(dir.dir()),
              (std::vector<std::string>{"BRIGHT_01000.RAW", "BRIGHT_02000.RAW", "DARK_00100.RAW", "DARK_old.raw"}));
    EXPECT_TRUE(ListCalibrationFiles(dir.file("missing")).empty());
}

TEST(CalibrationFiles, DeleteDarkFilesRemovesOnlyDarkRawFiles) {
    TempDir dir;
    for (const char* sz : {"DARK_00100.RAW", "DARK_00090.raw", "xDARKy.raw", "DARK_notes.txt", "BRIGHT_01000.RAW"})
        WriteFile(dir.file(sz), "x");
    std::filesystem::create_directory(dir.path() / "DARK_dir.raw");
    DeleteDarkFiles(dir.dir());
    EXPECT_EQ(ListFiles(dir.dir()), (std::vector<std::string>{"BRIGHT_01000.RAW", "DARK_notes.txt"}));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "DARK_dir.raw"));
}

// ---- Reading ------------------------------------------------------------------

TEST(RawRead, ReadsFirstPixelsOfALongerFileRefusesAShortOne) {
    TempDir dir;
    Frame f = RandomFrame(8, 4, 3);
    test::WriteRaw(dir.file("long.RAW"), f);
    Frame got(16, 1);
    EXPECT_EQ(ReadRawFile(dir.file("long.RAW"), got.data(), 16), RawRead::Ok);
    EXPECT_EQ(got, Frame(f.begin(), f.begin() + 16));

    WriteFile(dir.file("short.RAW"), std::string(63, '\x01'));  // one byte short of 32 pixels
    Frame untouched(32, 7);
    uint64_t nBytes = 0;
    EXPECT_EQ(ReadRawFile(dir.file("short.RAW"), untouched.data(), 32, &nBytes), RawRead::TooShort);
    EXPECT_EQ(nBytes, 63u);
    EXPECT_EQ(untouched, Frame(32, 7));

    EXPECT_EQ(ReadRawFile(dir.file("missing.RAW"), untouched.data(), 32), RawRead::OpenFailed);
    EXPECT_EQ(ReadRawFile(dir.dir(), untouched.data(), 32), RawRead::OpenFailed);  // a folder
    ASSERT_EQ(::mkfifo(dir.file("pipe.RAW").c_str(), 0644), 0);                    // would block a plain read forever
    EXPECT_EQ(ReadRawFile(dir.file("pipe.RAW"), untouched.data(), 32), RawRead::OpenFailed);
    EXPECT_FALSE(ReadRawFileUpTo(dir.file("pipe.RAW"), untouched.data(), 32));
    EXPECT_EQ(CheckRawFile(dir.file("short.RAW"), 31), RawRead::Ok);
    EXPECT_EQ(CheckRawFile(dir.file("short.RAW"), 32), RawRead::TooShort);
}

TEST(RawRead, OpenFileFillsOnlyTheFilesBytes) {
    TempDir dir;
    WriteFile(dir.file("part.RAW"), std::string("\x01\x02\x03\x04\x05", 5));
    Frame buffer(6, 0xEEEE);
    EXPECT_TRUE(ReadRawFileUpTo(dir.file("part.RAW"), buffer.data(), 6));
    EXPECT_EQ(buffer, (Frame{0x0201, 0x0403, 0x0005, 0, 0, 0}));
    EXPECT_FALSE(ReadRawFileUpTo(dir.file("none.RAW"), buffer.data(), 6));
}

// ---- Writing ------------------------------------------------------------------

TEST(RawWrite, WritesLittleEndianPixelsAndReplacesAnExistingFile) {
    TempDir dir;
    WriteFile(dir.file("IMAGE.RAW"), std::string(1000, 'o'));
    Frame f{0x0102, 0xA0B0, 0};
    ASSERT_TRUE(WriteRawFile(dir.file("IMAGE.RAW"), f.data(), f.size()));
    EXPECT_EQ(ReadFile(dir.file("IMAGE.RAW")), std::string("\x02\x01\xB0\xA0\x00\x00", 6));
    EXPECT_EQ(ListFiles(dir.dir()), std::vector<std::string>{"IMAGE.RAW"});  // no temporary file left
}

TEST(RawWrite, FolderThatCannotHoldFilesFailsAndLeavesNothing) {
    TempDir dir;
    WriteFile(dir.file("plainfile"), "x");
    Frame f(16, 5);
    // Permission bits do not stop root; a parent that is a file or is missing does.
    EXPECT_FALSE(WriteRawFile(dir.file("plainfile") + "/IMAGE.RAW", f.data(), f.size()));
    EXPECT_FALSE(WriteRawFile(dir.file("missing") + "/IMAGE.RAW", f.data(), f.size()));
    // A folder standing where the file should go.
    std::filesystem::create_directory(dir.path() / "IMAGE.RAW");
    EXPECT_FALSE(WriteRawFile(dir.file("IMAGE.RAW"), f.data(), f.size()));
    EXPECT_EQ(ListFiles(dir.dir()), std::vector<std::string>{"plainfile"});
}

// Lowers the file size limit of the process, so that writes beyond it fail
// like writes to a full disk (also for root).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t nBytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit r = m_old;
        r.rlim_cur = nBytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

TEST(RawWrite, ShortWriteRemovesTheTemporaryFileAndKeepsTheOldImage) {
    TempDir dir;
    const std::string strOld(100, 'o');
    WriteFile(dir.file("IMAGE.RAW"), strOld);
    Frame f = RandomFrame(64, 64, 4);  // 8192 bytes
    {
        FileSizeLimit limit(4096);
        EXPECT_FALSE(WriteRawFile(dir.file("IMAGE.RAW"), f.data(), f.size()));
    }
    EXPECT_EQ(ReadFile(dir.file("IMAGE.RAW")), strOld);
    EXPECT_EQ(ListFiles(dir.dir()), std::vector<std::string>{"IMAGE.RAW"});
}

TEST(RawWrite, ContentMadeInPiecesIsWrittenWholeOrNotAtAll) {
    TempDir dir;
    const std::string strOld(100, 'o');
    WriteFile(dir.file("OUT.dcm"), strOld);
    // A producer that gives up after its first piece: the old file stays, no temporary is left.
    EXPECT_FALSE(WriteFileReplacingFrom(dir.file("OUT.dcm"), [](const ByteSink& fnWrite) {
        fnWrite("abc", 3);
        return false;
    }));
    EXPECT_EQ(ReadFile(dir.file("OUT.dcm")), strOld);
    EXPECT_EQ(ListFiles(dir.dir()), std::vector<std::string>{"OUT.dcm"});
    // Pieces in order make the file.
    EXPECT_TRUE(WriteFileReplacingFrom(dir.file("OUT.dcm"), [](const ByteSink& fnWrite) {
        return fnWrite("abc", 3) && fnWrite("", 0) && fnWrite("defg", 4);
    }));
    EXPECT_EQ(ReadFile(dir.file("OUT.dcm")), "abcdefg");
    EXPECT_EQ(ListFiles(dir.dir()), std::vector<std::string>{"OUT.dcm"});
}

size_t OpenFileCount() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// Written behind the producer on the file thread: pieces of odd sizes from a
// frame, then a piece from elsewhere; the old file is released on the file
// thread. Run twice, so that the second replaces the first.
TEST(RawWrite, PiecesWrittenBehindTheProducerMakeTheWholeFile) {
    TempDir dir;
    WriteFile(dir.file("IMAGE.RAW"), "old");
    constexpr size_t kPixels = CFrameBuffer::kMappedBytes / 2 + 12345;
    CFrameBuffer frame(kPixels);
    ASSERT_TRUE(frame);
    const Frame pixels = RandomFrame(int32_t(kPixels / 5), 5, 9);
    std::copy(pixels.begin(), pixels.end(), frame.get());
    const std::string strTail = "tail from elsewhere";
    std::string strExpected(reinterpret_cast<const char*>(frame.get()), pixels.size() * 2);
    strExpected += strTail;
    const size_t nFilesBefore = OpenFileCount();
    for (int nRun = 0; nRun < 2; ++nRun) {
        CReplaceOptions options;
        options.bWriteBehind = true;
        options.bReleaseOldLater = true;
        int nError = -1;
        ASSERT_TRUE(WriteFileReplacingFrom(
            dir.file("IMAGE.RAW"),
            [&](const ByteSink& fnWrite) {
                const char* p = reinterpret_cast<const char*>(frame.get());
                size_t nDone = 0;
                for (size_t nPiece : {size_t{1}, size_t{4095}, size_t{6113}, size_t{1} << 20, size_t{0}}) {
                    EXPECT_TRUE(fnWrite(p + nDone, nPiece));
                    nDone += nPiece;
                }
                return fnWrite(p + nDone, pixels.size() * 2 - nDone) && fnWrite(strTail.data(), strTail.size());
            },
            options, &nError));
        EXPECT_EQ(nError, 0);
        EXPECT_EQ(ReadFile(dir.file("IMAGE.RAW")), strExpected) << nRun;
        EXPECT_EQ(ListFiles(dir.dir()), std::vector<std::string>{"IMAGE.RAW"});
    }
    PostToFileThread([] {}).get();  // the old files' release has run
    EXPECT_EQ(OpenFileCount(), nFilesBefore);
}

// A write that fails behind the producer (the file size limit, as a full
// disk) fails the replace: the old file stays and no temporary is left.
TEST(RawWrite, AWriteFailingBehindTheProducerKeepsTheOldFile) {
    TempDir dir;
    WriteFile(dir.file("IMAGE.RAW"), "old");
    constexpr size_t kBytes = CFrameBuffer::kMappedBytes + 1000;
    CFrameBuffer frame(kBytes / 2);
    ASSERT_TRUE(frame);
    std::memset(frame.get(), 7, kBytes);
    for (rlim_t nLimit : {rlim_t{100}, rlim_t{(1 << 20) + 4096}, rlim_t{kBytes - 10}}) {
        SCOPED_TRACE(nLimit);
        CReplaceOptions options;
        options.bWriteBehind = true;
        options.bReleaseOldLater = true;
        int nError = 0;
        FileSizeLimit limit(nLimit);
        EXPECT_FALSE(WriteFileReplacingFrom(
            dir.file("IMAGE.RAW"),
            [&](const ByteSink& fnWrite) {
                const char* p = reinterpret_cast<const char*>(frame.get());
                for (size_t nAt = 0; nAt < kBytes; nAt += 300000)
                    fnWrite(p + nAt, std::min<size_t>(300000, kBytes - nAt));
                return true;
            },
            options, &nError));
        EXPECT_EQ(nError, EFBIG);
        EXPECT_EQ(ReadFile(dir.file("IMAGE.RAW")), "old");
        EXPECT_EQ(ListFiles(dir.dir()), std::vector<std::string>{"IMAGE.RAW"});
    }
}

TEST(RawWrite, ImageAppearsOnlyWhenComplete) {
    TempDir dir;
    WriteFile(dir.file("IMAGE.RAW"), "old");
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_GE(inotify_add_watch(fd, dir.path().c_str(),
                                IN_CREATE | IN_OPEN | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM),
              0);
    Frame f = RandomFrame(256, 256, 5);
    ASSERT_TRUE(WriteRawFile(dir.file("IMAGE.RAW"), f.data(), f.size()));

    // The image's own name is never opened or written: the new image arrives
    // complete by one rename over the old one (the name is never missing); the
    // data was written under another name.
    std::vector<uint32_t> imageEvents;
    bool bOtherNameWritten = false;
    alignas(inotify_event) char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        for (char* p = buf; p < buf + n;) {
            auto* e = reinterpret_cast<inotify_event*>(p);
            std::string strName = e->len ? e->name : "";
            if (strName == "IMAGE.RAW")
                imageEvents.push_back(e->mask);
            else if (e->mask & IN_MODIFY)
                bOtherNameWritten = true;
            p += sizeof(inotify_event) + e->len;
        }
    ::close(fd);
    EXPECT_EQ(imageEvents, (std::vector<uint32_t>{IN_MOVED_TO}));
    EXPECT_TRUE(bOtherNameWritten);
    EXPECT_EQ(test::ReadRaw(dir.file("IMAGE.RAW")), f);
    EXPECT_EQ(ListFiles(dir.dir()), std::vector<std::string>{"IMAGE.RAW"});
}

}  // namespace
}  // namespace orvi

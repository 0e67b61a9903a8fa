#include "imaging/MessageFiles.h"

#include "ImagingTestSupport.h"

#include <gtest/gtest.h>

namespace orvi {
namespace {

using test::ListFiles;
using test::ReadFile;
using test::TempDir;

TEST(MessageFiles, CreateTruncatesAndDeleteIgnoresAMissingFile) {
    TempDir dir;
    test::WriteFile(dir.file(kFileImageComing), "left over");
    EXPECT_TRUE(CreateEmptyFile(dir.dir(), kFileImageComing));
    EXPECT_EQ(ReadFile(dir.file(kFileImageComing)), "");
    DeleteFileIn(dir.dir(), kFileDetectorReady);  // missing: nothing happens
    DeleteFileIn(dir.dir(), kFileImageComing);
    EXPECT_TRUE(ListFiles(dir.dir()).empty());
    EXPECT_FALSE(CreateEmptyFile(dir.file("missing") + "/", kFileImageComing));
}

TEST(MessageFiles, DeleteLeavesAFolderOfThatName) {
    TempDir dir;
    std::filesystem::create_directory(dir.file(kFileDetectorReady));
    DeleteFileIn(dir.dir(), kFileDetectorReady);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file(kFileDetectorReady)));
}

TEST(MessageFiles, DoseFileHoldsUtf16DigitsOnly) {
    EXPECT_EQ(DoseIndicatorBytes(1234), std::string("1\0"
                                                    "2\0"
                                                    "3\0"
                                                    "4\0",
                                                    8));
    EXPECT_EQ(DoseIndicatorBytes(16384), std::string("1\0"
                                                     "6\0"
                                                     "3\0"
                                                     "8\0"
                                                     "4\0",
                                                     10));
    EXPECT_EQ(DoseIndicatorBytes(0), std::string("0\0", 2));

    TempDir dir;
    test::WriteFile(dir.file(kFileDoseIndicator), std::string(100, 'x'));
    EXPECT_TRUE(WriteDoseIndicatorFile(dir.dir(), 500));
    EXPECT_EQ(ReadFile(dir.file(kFileDoseIndicator)), std::string("5\0"
                                                                  "0\0"
                                                                  "0\0",
                                                                  6));
    EXPECT_EQ(ListFiles(dir.dir()), std::vector<std::string>{kFileDoseIndicator});
    EXPECT_FALSE(WriteDoseIndicatorFile(dir.file(kFileDoseIndicator) + "/", 500));
}

}  // namespace
}  // namespace orvi

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "files/training_set.h"
#include "files_test_support.h"

namespace {

namespace fs = std::filesystem;
using files_test::FileSizeLimit;
using files_test::ScratchDirTest;

const char kHeader[] =
    "in1\tin2\tin3\tin4\tin5\tin6\tin7\tin8\tout1\tout2\tout3\tout4\tout5\tout6\tout7\tout8\r\n";

TEST(TrainingFileNumber, NamesWrapAndClamp) {
    struct {
        std::uint16_t number;
        const char* name;
        std::uint16_t next;
        std::uint16_t previous;
    } cases[] = {
        {0, "train000.txt", 1, 0},          {1, "train001.txt", 2, 0},
        {42, "train042.txt", 43, 41},       {999, "train999.txt", 1000, 998},
        {1000, "train1000.txt", 1001, 999}, {65535, "train65535.txt", 0, 65534},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TrainingFileName(c.number), c.name);
        EXPECT_EQ(NextTrainingFileNumber(c.number), c.next) << c.number;
        EXPECT_EQ(PreviousTrainingFileNumber(c.number), c.previous) << c.number;
    }
}

TEST(TrainingSetLines, ExactBytes) {
    EXPECT_EQ(TrainingHeaderLine(), kHeader);
    struct {
        TrainingSet values;
        const char* line;
    } cases[] = {
        {{10, 20, 30, 40, 50, 60, 70, 80, 0, 0, 0, 0, 0, 0, 0, 0},
         "10\t20\t30\t40\t50\t60\t70\t80\t0\t0\t0\t0\t0\t0\t0\t0\r\n"},
        {{255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255},
         "255\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t255\r\n"},
        {{-1, 7, 100, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9},
         "-1\t7\t100\t3\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t9\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(TrainingSetLine(c.values), c.line);
}

using TrainingStoreTest = ScratchDirTest;

TEST_F(TrainingStoreTest, HeaderOnlyForAFileThatDidNotExist) {
    const TrainingSet a{10, 20, 30, 40, 50, 60, 70, 80, 0, 0, 0, 0, 0, 0, 0, 0};
    const TrainingSet b{255, 255, 255, 255, 255, 255, 255, 255, 1, 2, 3, 4, 5, 6, 7, 8};
    const fs::path fresh = dir_ / TrainingFileName(0);
    ASSERT_EQ(AppendTrainingSet(fresh.string(), a), FileResult::Ok);
    EXPECT_EQ(ReadWholeFile(fresh), kHeader + TrainingSetLine(a));
    ASSERT_EQ(AppendTrainingSet(fresh.string(), b), FileResult::Ok);
    EXPECT_EQ(ReadWholeFile(fresh), kHeader + TrainingSetLine(a) + TrainingSetLine(b));

    // An existing file, even an empty one, is only appended to.
    const fs::path empty = Write("train001.txt", "");
    ASSERT_EQ(AppendTrainingSet(empty.string(), b), FileResult::Ok);
    EXPECT_EQ(ReadWholeFile(empty), TrainingSetLine(b));
    const fs::path old = Write("train002.txt", "keep me\r\n");
    ASSERT_EQ(AppendTrainingSet(old.string(), a), FileResult::Ok);
    EXPECT_EQ(ReadWholeFile(old), "keep me\r\n" + TrainingSetLine(a));
}

TEST_F(TrainingStoreTest, RowsAreCountedWithoutTheHeader) {
    const struct {
        const char* text;
        long rows;
    } cases[] = {
        {"", 0},
        {"in1\tin2\r\n", 0},
        {"in1\tin2\r\n1\t2\r\n3\t4\r\n", 2},
        {"1\t2\r\n3\t4", 2},  // the last line without its end
        {"keep me\r\n5\r\n", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CountTrainingRows(Write("count.txt", c.text).string()), c.rows) << c.text;
    }
    EXPECT_EQ(CountTrainingRows((dir_ / "missing.txt").string()), 0);
}

TEST_F(TrainingStoreTest, FailuresNameTheirCauseAndWriteNothing) {
    const fs::path plain = Write("plain", "a file, not a folder");
    fs::create_directories(dir_ / "train003.txt");
    const TrainingSet values{};
    const fs::path openFailures[] = {plain / "train000.txt", dir_ / "missing" / "train000.txt",
                                     dir_ / "train003.txt"};
    for (const fs::path& path : openFailures) {
        const FileResult result = AppendTrainingSet(path.string(), values);
        EXPECT_EQ(result, FileResult::OpenFailed) << path;
        EXPECT_STREQ(TrainingFileResultText(result), "File opening failed. Check file name...");
    }
    EXPECT_EQ(ReadWholeFile(plain), "a file, not a folder");
    EXPECT_TRUE(fs::is_empty(dir_ / "train003.txt"));
    EXPECT_STREQ(TrainingFileResultText(FileResult::Ok), "");
}

TEST_F(TrainingStoreTest, AWriteErrorIsReportedNotSwallowed) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    fs::create_symlink("/dev/full", dir_ / "train004.txt");
    const FileResult result = AppendTrainingSet((dir_ / "train004.txt").string(), TrainingSet{});
    EXPECT_EQ(result, FileResult::WriteFailed);
    EXPECT_STREQ(TrainingFileResultText(result), "Error writing file");
    EXPECT_TRUE(fs::is_symlink(dir_ / "train004.txt"));
}

// A store that cannot be completed leaves the file as it was, so the next store
// neither lands on half a line nor misses the header.
TEST_F(TrainingStoreTest, AFailedStoreLeavesWholeLines) {
    const TrainingSet values{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const std::string before = std::string(kHeader) + TrainingSetLine(values);
    const fs::path existing = Write("train005.txt", before);
    const fs::path fresh = dir_ / "train006.txt";
    {
        const FileSizeLimit limit(before.size() + 10);  // room for a part of the line
        EXPECT_EQ(AppendTrainingSet(existing.string(), values), FileResult::WriteFailed);
    }
    {
        const FileSizeLimit limit(before.size() - 10);  // room for the header and a part
        EXPECT_EQ(AppendTrainingSet(fresh.string(), values), FileResult::WriteFailed);
    }
    // Through a dangling link: the link stays, and no file is left at its target.
    const fs::path link = dir_ / "train007.txt";
    fs::create_symlink("target.txt", link);
    {
        const FileSizeLimit limit(before.size() - 10);
        EXPECT_EQ(AppendTrainingSet(link.string(), values), FileResult::WriteFailed);
    }
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(fs::exists(dir_ / "target.txt"));
    EXPECT_EQ(ReadWholeFile(existing), before);
    EXPECT_FALSE(fs::exists(fresh));
    ASSERT_EQ(AppendTrainingSet(fresh.string(), values), FileResult::Ok);
    EXPECT_EQ(ReadWholeFile(fresh), before);
}

}  // namespace

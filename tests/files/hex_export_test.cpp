#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "files/hex_net_file.h"
#include "files_test_support.h"

namespace {

namespace fs = std::filesystem;
using files_test::FileSizeLimit;
using files_test::Image;
using files_test::ScratchDirTest;
using files_test::VariedWeights;

mode_t ModeOf(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

using HexExportTest = ScratchDirTest;

TEST_F(HexExportTest, NewFileHoldsTheImageAndNothingElseIsLeft) {
    const ModuleWeights weights = VariedWeights();
    const mode_t previousMask = ::umask(027);
    const FileResult result =
        ExportHexNetFile((dir_ / "net.hex").string(), weights, 0xC400, FORMAT_HEX);
    ::umask(previousMask);
    ASSERT_EQ(result, FileResult::Ok);
    EXPECT_EQ(ReadWholeFile(dir_ / "net.hex"), Image(weights, 0xC400, FORMAT_HEX));
    EXPECT_EQ(Names(), std::vector<std::string>{"net.hex"});
    // As an ordinary create would make it: 0666 less the umask.
    EXPECT_EQ(ModeOf(dir_ / "net.hex"), 0640u);
}

TEST_F(HexExportTest, ReplacesAnExistingFileKeepingItsPermissions) {
    const fs::path target = Write("net.s19", std::string(5000, 'x'));
    ::chmod(target.c_str(), 0604);
    const ModuleWeights weights = VariedWeights();
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(ExportHexNetFile(target.string(), weights, 0xB000, FORMAT_S19), FileResult::Ok);
        // Replaced, never appended to: the same bytes after each run.
        EXPECT_EQ(ReadWholeFile(target), Image(weights, 0xB000, FORMAT_S19));
    }
    EXPECT_EQ(ModeOf(target), 0604u);
    EXPECT_EQ(Names(), std::vector<std::string>{"net.s19"});
}

TEST_F(HexExportTest, ASymbolicLinkKeepsPointingAtTheReplacedFile) {
    fs::create_directories(dir_ / "real");
    const fs::path real = Write("real/net.s19", "old");
    fs::create_symlink(real, dir_ / "link.s19");
    ASSERT_EQ(ExportHexNetFile((dir_ / "link.s19").string(), ModuleWeights{}, 0xB000, FORMAT_S19),
              FileResult::Ok);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.s19"));
    EXPECT_EQ(ReadWholeFile(real), Image(ModuleWeights{}, 0xB000, FORMAT_S19));
    EXPECT_EQ(Names(), (std::vector<std::string>{"link.s19", "real"}));
}

TEST_F(HexExportTest, TargetsThatCannotBeOpenedLeaveEverythingAsItWas) {
    const fs::path plain = Write("plain", "not a folder");
    fs::create_directories(dir_ / "folder.s19");
    const std::string cases[] = {
        (plain / "net.s19").string(),             // a regular file as folder (ENOTDIR)
        (dir_ / "missing" / "net.s19").string(),  // the folder must exist
        (dir_ / "folder.s19").string(),           // a folder as target
        "",
    };
    for (const std::string& path : cases) {
        EXPECT_EQ(ExportHexNetFile(path, VariedWeights(), 0xB000, FORMAT_S19),
                  FileResult::OpenFailed)
            << path;
    }
    EXPECT_EQ(ReadWholeFile(plain), "not a folder");
    EXPECT_TRUE(fs::is_directory(dir_ / "folder.s19"));
    EXPECT_TRUE(fs::is_empty(dir_ / "folder.s19"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"folder.s19", "plain"}));
}

// A write that fails part way (here: the file size limit) must neither leave a
// partial image nor harm the file that was to be replaced.
TEST_F(HexExportTest, AFailedWriteKeepsTheOldFileAndLeavesNoPartialImage) {
    const std::string old = Image(ModuleWeights{}, 0xD000, FORMAT_S19);
    struct {
        const char* name;
        bool exists;
        rlim_t limit;
    } cases[] = {
        {"old.s19", true, 1000},   // half the image fits
        {"old2.s19", true, 1980},  // all but the end record fits
        {"new.s19", false, 1000},
        {"new2.s19", false, 0},
    };
    for (const auto& c : cases) {
        if (c.exists) Write(c.name, old);
        FileResult result;
        {
            const FileSizeLimit limit(c.limit);
            result =
                ExportHexNetFile((dir_ / c.name).string(), VariedWeights(), 0xB000, FORMAT_S19);
        }
        EXPECT_EQ(result, FileResult::WriteFailed) << c.name;
        if (c.exists) {
            EXPECT_EQ(ReadWholeFile(dir_ / c.name), old) << c.name;
        } else {
            EXPECT_FALSE(fs::exists(dir_ / c.name)) << c.name;
        }
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"old.s19", "old2.s19"}));
}

TEST_F(HexExportTest, AFullDeviceBehindALinkReportsTheWriteError) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    fs::create_symlink("/dev/full", dir_ / "full.s19");
    EXPECT_EQ(ExportHexNetFile((dir_ / "full.s19").string(), VariedWeights(), 0xB000, FORMAT_S19),
              FileResult::WriteFailed);
    EXPECT_TRUE(fs::is_symlink(dir_ / "full.s19"));
    EXPECT_EQ(Names(), std::vector<std::string>{"full.s19"});
}

TEST_F(HexExportTest, StepsOutOfOrderFailWithoutLeavingAFile) {
    {
        HexNetFileExport notOpened((dir_ / "a.s19").string());
        EXPECT_FALSE(notOpened.WriteRecords(ModuleWeights{}, 0xB000, FORMAT_S19));
        EXPECT_NE(notOpened.Finish(), FileResult::Ok);
    }
    {
        HexNetFileExport noRecords((dir_ / "b.s19").string());
        ASSERT_EQ(noRecords.Open(), FileResult::Ok);
        EXPECT_EQ(noRecords.Finish(), FileResult::WriteFailed);
    }
    {
        HexNetFileExport abandoned((dir_ / "c.s19").string());
        ASSERT_EQ(abandoned.Open(), FileResult::Ok);
        EXPECT_TRUE(abandoned.WriteRecords(ModuleWeights{}, 0xB000, FORMAT_S19));
    }
    EXPECT_TRUE(Names().empty());
}

}  // namespace

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>

#include "files/hex_net_file.h"
#include "files/replace_file.h"
#include "files_test_support.h"
#include "os/io.h"

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

struct stat StatOf(const fs::path& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}

constexpr uid_t kNobody = 65534;

// Runs `body` in a child process that has become the unprivileged user nobody, as
// an ordinary user would run the tool; returns the child's exit code.
int RunAsNobody(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(100);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
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

TEST_F(HexExportTest, AnAbandonedImageLeavesNoFile) {
    {
        FileReplacement abandoned((dir_ / "c.s19").string());
        ASSERT_EQ(abandoned.Open(), FileResult::Ok);
        EXPECT_TRUE(WriteHexNetRecords(abandoned.Stream(), ModuleWeights{}, 0xB000, FORMAT_S19));
    }
    EXPECT_TRUE(Names().empty());
}

// What an ordinary write could not do, the replacement must not do either.
TEST_F(HexExportTest, AnOrdinaryUserReplacesOnlyWhatItCouldWrite) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to set up other owners";
    ::chmod(dir_.c_str(), 0777);  // the folder itself never stops nobody
    const std::string old = "old image";
    struct {
        const char* name;
        uid_t uid;
        gid_t gid;
        mode_t mode;
        FileResult result;
    } cases[] = {
        {"readonly.s19", kNobody, kNobody, 0444, FileResult::OpenFailed},
        {"roots.s19", 0, 0, 0666, FileResult::OpenFailed},            // would change owner
        {"rootgroup.s19", kNobody, 0, 0664, FileResult::OpenFailed},  // would change group
        {"own.s19", kNobody, kNobody, 0640, FileResult::Ok},
    };
    for (const auto& c : cases) {
        const fs::path target = Write(c.name, old);
        ASSERT_EQ(::chown(target.c_str(), c.uid, c.gid), 0);
        ASSERT_EQ(::chmod(target.c_str(), c.mode), 0);
        const ino_t inode = StatOf(target).st_ino;
        const int code = RunAsNobody([&] {
            return static_cast<int>(
                ExportHexNetFile(target.string(), VariedWeights(), 0xB000, FORMAT_S19));
        });
        EXPECT_EQ(code, static_cast<int>(c.result)) << c.name;
        const struct stat after = StatOf(target);
        EXPECT_EQ(after.st_uid, c.uid) << c.name;
        EXPECT_EQ(after.st_gid, c.gid) << c.name;
        EXPECT_EQ(after.st_mode & 07777, c.mode) << c.name;
        if (c.result == FileResult::Ok) {
            EXPECT_EQ(ReadWholeFile(target), Image(VariedWeights(), 0xB000, FORMAT_S19));
        } else {
            EXPECT_EQ(ReadWholeFile(target), old) << c.name;
            EXPECT_EQ(after.st_ino, inode) << c.name;
        }
    }
    // Where the system allows it, the replacement goes back to the old owner.
    const fs::path theirs = Write("theirs.s19", old);
    ASSERT_EQ(::chown(theirs.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(theirs.c_str(), 0600), 0);
    ASSERT_EQ(ExportHexNetFile(theirs.string(), ModuleWeights{}, 0xB000, FORMAT_S19),
              FileResult::Ok);
    EXPECT_EQ(StatOf(theirs).st_uid, kNobody);
    EXPECT_EQ(StatOf(theirs).st_gid, kNobody);
    EXPECT_EQ(StatOf(theirs).st_mode & 07777, 0600u);
    EXPECT_EQ(Names().size(), std::size(cases) + 1);  // no temporary file left
}

TEST_F(HexExportTest, LinksLeadWhereAnOrdinaryWriteWouldGo) {
    const std::string image = Image(VariedWeights(), 0xB000, FORMAT_S19);
    fs::create_directories(dir_ / "real");
    fs::create_symlink("real/new.s19", dir_ / "dangling.s19");  // relative to its folder
    fs::create_symlink("loop2.s19", dir_ / "loop1.s19");
    fs::create_symlink("loop1.s19", dir_ / "loop2.s19");
    fs::create_symlink("self.s19", dir_ / "self.s19");
    struct {
        const char* name;
        FileResult result;
    } cases[] = {
        {"dangling.s19", FileResult::Ok},
        {"loop1.s19", FileResult::OpenFailed},
        {"self.s19", FileResult::OpenFailed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExportHexNetFile((dir_ / c.name).string(), VariedWeights(), 0xB000, FORMAT_S19),
                  c.result)
            << c.name;
        EXPECT_TRUE(fs::is_symlink(dir_ / c.name)) << c.name;
    }
    EXPECT_EQ(ReadWholeFile(dir_ / "real" / "new.s19"), image);
    EXPECT_EQ(Names(), (std::vector<std::string>{"dangling.s19", "loop1.s19", "loop2.s19", "real",
                                                 "self.s19"}));
}

TEST_F(HexExportTest, AFileWithOtherHardLinksIsWrittenInPlace) {
    const fs::path first = Write("first.s19", std::string(3000, 'x'));
    fs::create_hard_link(first, dir_ / "second.s19");
    const ino_t inode = StatOf(first).st_ino;
    {
        // Given up before the end: the old bytes are still whole.
        FileReplacement abandoned(first.string());
        ASSERT_EQ(abandoned.Open(), FileResult::Ok);
        EXPECT_TRUE(WriteHexNetRecords(abandoned.Stream(), VariedWeights(), 0xB000, FORMAT_S19));
    }
    EXPECT_EQ(ReadWholeFile(dir_ / "second.s19"), std::string(3000, 'x'));
    ASSERT_EQ(ExportHexNetFile(first.string(), VariedWeights(), 0xB000, FORMAT_S19),
              FileResult::Ok);
    EXPECT_EQ(ReadWholeFile(dir_ / "second.s19"), Image(VariedWeights(), 0xB000, FORMAT_S19));
    EXPECT_EQ(StatOf(first).st_ino, inode);
    EXPECT_EQ(StatOf(first).st_nlink, 2u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"first.s19", "second.s19"}));
}

TEST_F(HexExportTest, AFifoIsWrittenOnlyWhenItHasAReader) {
    const fs::path fifo = dir_ / "fifo.s19";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // No reader: refused at once rather than waiting for one.
    EXPECT_EQ(ExportHexNetFile(fifo.string(), VariedWeights(), 0xB000, FORMAT_S19),
              FileResult::OpenFailed);
    FdReadBuffer reader(OpenForReading(fifo.string()));
    ASSERT_EQ(ExportHexNetFile(fifo.string(), VariedWeights(), 0xB000, FORMAT_S19), FileResult::Ok);
    std::ostringstream received;
    received << &reader;
    EXPECT_EQ(received.str(), Image(VariedWeights(), 0xB000, FORMAT_S19));
    EXPECT_EQ(Names(), std::vector<std::string>{"fifo.s19"});
}

}  // namespace

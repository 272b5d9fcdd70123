// Reading net files and flash images by name: every front end goes through these,
// so a FIFO whose writer never comes, stays quiet or trickles must end the read
// within its limits, never hang the window.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "files/flash_image_reader.h"
#include "files/net_file.h"
#include "files/replace_file.h"
#include "files/training_rows.h"
#include "files_test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using files_test::ScratchDirTest;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string NetText() {
    std::string text;
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) text += std::to_string(n * 11 - 1000) + "\n";
    return text;
}

using FileReadingTest = ScratchDirTest;

TEST_F(FileReadingTest, NetFileByName) {
    Write("net.txt", NetText());
    Write("shifted.txt", "08\n" + NetText());
    const struct {
        std::string path;
        FileResult result;
    } cases[] = {
        {(dir_ / "net.txt").string(), FileResult::Ok},
        {(dir_ / "missing.txt").string(), FileResult::OpenFailed},
        {dir_.string(), FileResult::ReadFailed},  // a folder
        {(dir_ / "shifted.txt").string(), FileResult::ReadFailed},
    };
    for (const auto& c : cases) {
        FileWeights w{};
        EXPECT_EQ(ReadNetFile(c.path, w), c.result) << c.path;
        EXPECT_EQ(w[1], c.result == FileResult::Ok ? -989 : 0) << c.path;  // untouched on failure
    }
}

// Every named input fails with its cause in words, whichever reader meets it.
TEST_F(FileReadingTest, EveryReaderTellsTheSameCause) {
    const struct {
        std::string path;
        FileOutcome outcome;
    } cases[] = {
        {(dir_ / "missing.txt").string(), {FileResult::OpenFailed, "No such file or directory"}},
#ifndef _WIN32  // a folder opens as a file only on POSIX
        {dir_.string(), {FileResult::ReadFailed, "is a folder, not a file"}},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        BoundedFileStream in;
        (void)in.Open(c.path);
        std::string all;
        std::getline(in, all, '\0');
        EXPECT_EQ(in.Outcome().result, c.outcome.result);
        EXPECT_EQ(in.Outcome().reason, c.outcome.reason);
        FileWeights w{};
        const NetFileRead net = ReadNetFile(c.path, c.path, w);
        EXPECT_EQ(net.result, c.outcome.result);
        EXPECT_EQ(net.reason, c.outcome.reason);
        const FlashImageRead image = ReadFlashImageFile(c.path);
        EXPECT_EQ(FlashImageOutcome(image).result, c.outcome.result);
        EXPECT_EQ(FlashImageOutcome(image).reason, c.outcome.reason);
        const TrainingRowsRead rows = ReadTrainingRows({c.path});
        EXPECT_FALSE(rows.ok);
        EXPECT_EQ(rows.file, c.path);
        EXPECT_EQ(rows.failure.result, c.outcome.result);
        EXPECT_EQ(rows.failure.reason, c.outcome.reason);
        EXPECT_EQ(rows.error, c.path + ": " + c.outcome.reason);
    }
    EXPECT_EQ(FileOutcomeText({FileResult::ReadFailed, "line 3: bad"}),
              "Error reading file: line 3: bad");
    EXPECT_EQ(FileOutcomeText({FileResult::OpenFailed, ""}), "Error opening file");
}

// The total limit is for a writer that trickles: a regular file, however large or
// slow to parse, is read to its end.
TEST_F(FileReadingTest, ARegularFileIsNeverCutByTheTotalLimit) {
    std::string rows;
    for (int r = 0; r < 20000; ++r) rows += "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n";
    const fs::path path = Write("rows.txt", rows);
    const ReadLimits limits{milliseconds(3000), milliseconds(0)};
    const TrainingRowsRead read = ReadTrainingRows({path.string()}, limits);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.rows.size(), 20000u);
}

// The one whole-file writer: a writer that gives up, or an output that cannot be
// opened, leaves the old file as it was, no temporary beside it, and says why.
TEST_F(FileReadingTest, WriteWholeFileKeepsTheOldFileUnlessAllOfItWasWritten) {
    const fs::path target = Write("out.txt", "old");
    const FileOutcome abandoned = WriteWholeFile(target.string(), [](std::ostream& out) {
        out << "half";
        return false;
    });
    EXPECT_EQ(abandoned.result, FileResult::WriteFailed);
    EXPECT_EQ(ReadWholeFile(target), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"out.txt"});

    const FileOutcome written = WriteWholeFile(target.string(), [](std::ostream& out) {
        out << "new";
        return static_cast<bool>(out);
    });
    EXPECT_TRUE(written.Ok()) << written.reason;
    EXPECT_EQ(ReadWholeFile(target), "new");
    EXPECT_EQ(Names(), std::vector<std::string>{"out.txt"});

    const fs::path missing = dir_ / "no" / "out.txt";
    const FileOutcome unopened =
        WriteWholeFile(missing.string(), [](std::ostream&) { return true; });
    EXPECT_EQ(unopened.result, FileResult::OpenFailed);
    EXPECT_EQ(unopened.reason, "its folder " + (dir_ / "no").string() + " does not exist");
#ifndef _WIN32
    // A device that takes nothing: the cause is the system's.
    const FileOutcome full = WriteWholeFile("/dev/full", [](std::ostream& out) {
        out << std::string(10000, 'x');
        return static_cast<bool>(out);
    });
    EXPECT_EQ(full.result, FileResult::WriteFailed);
    EXPECT_EQ(full.reason, "No space left on device");
#endif
}

#ifndef _WIN32
// A FIFO whose writer sends `text` in pieces `gap` apart, then closes or stays; the read end is
// held open so that the writer's open never waits.
class FifoWriter {
public:
    FifoWriter(const fs::path& path, std::string text, milliseconds gap, bool close) : path_(path) {
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        held_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        writer_ = ::open(path.c_str(), O_WRONLY);
        thread_ = std::thread([this, text = std::move(text), gap, close] {
            // One piece per gap: a trickle when the gap is short, silence when the
            // whole text has gone and the writer stays.
            for (std::size_t at = 0; at < text.size() && !stop_; at += 64) {
                const std::size_t size = std::min<std::size_t>(64, text.size() - at);
                if (::write(writer_, text.data() + at, size) < 0) break;
                std::this_thread::sleep_for(gap);
            }
            if (close) {
                ::close(writer_);
                writer_ = -1;
            }
        });
    }
    ~FifoWriter() {
        stop_ = true;
        thread_.join();
        if (writer_ >= 0) ::close(writer_);
        ::close(held_);
    }
    [[nodiscard]] std::string Path() const { return path_.string(); }

private:
    fs::path path_;
    int held_ = -1;
    int writer_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(FileReadingTest, AFifoNeverHoldsAReadBeyondItsLimits) {
    const ReadLimits limits{milliseconds(200), milliseconds(800)};
    const std::string net = NetText();
    const std::string image = files_test::Image(ModuleWeights{}, 0xB000, FORMAT_S19);
    const struct {
        const char* name;
        std::string text;
        milliseconds gap;
        bool close;
        FileResult result;
    } cases[] = {
        {"fed", net, milliseconds(5), true, FileResult::Ok},
        {"quiet", "", milliseconds(0), false, FileResult::ReadFailed},
        // 280 values, the last one perhaps not yet whole, then silence.
        {"stalled", net.substr(0, net.size() - 1), milliseconds(0), false, FileResult::ReadFailed},
        {"trickle", std::string(64 * 60, ' ') + net, milliseconds(20), true,
         FileResult::ReadFailed},
    };
    for (const auto& c : cases) {
        const FifoWriter writer(dir_ / c.name, c.text, c.gap, c.close);
        FileWeights w{};
        const auto start = Clock::now();
        EXPECT_EQ(ReadNetFile(writer.Path(), w, limits), c.result) << c.name;
        // The limits hold the read to 800 ms; the room above is for a busy machine.
        const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
        EXPECT_LT(took.count(), 5000) << c.name;
    }
    {
        const FifoWriter quiet(dir_ / "image", image.substr(0, 200), milliseconds(0), false);
        const FlashImageRead read = ReadFlashImageFile(quiet.Path(), limits);
        EXPECT_EQ(read.error, ImageError::ReadFailed);
        EXPECT_EQ(FlashImageErrorText(read), "Error reading file");
    }
    // No writer at all: empty at once, as before.
    ASSERT_EQ(::mkfifo((dir_ / "none").c_str(), 0600), 0);
    FileWeights w{};
    EXPECT_EQ(ReadNetFile((dir_ / "none").string(), w, limits), FileResult::ReadFailed);
    EXPECT_EQ(ReadFlashImageFile(dir_.string()).error, ImageError::ReadFailed);  // a folder
}
#endif  // FIFOs are POSIX

}  // namespace

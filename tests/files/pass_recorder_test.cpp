#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include "files/pass_log.h"
#include "files/pass_recorder.h"
#include "files_test_support.h"

namespace {

using files_test::FileSizeLimit;
using files_test::ScratchDirTest;

// `mode`: the engine's mode numbers (0 Monitor, 2 Simulator (integer), 3 Emulator).
PassSample Sample(int ms, std::uint16_t base, int mode) {
    PassSample s;
    s.steady = std::chrono::steady_clock::time_point(std::chrono::milliseconds(5000 + ms));
    s.wall = std::chrono::system_clock::now();
    s.mode = mode;
    for (int k = 0; k < NET_INPUT_COUNT; ++k) s.inputs[k] = static_cast<std::uint16_t>(base + k);
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) s.outputs[k] = static_cast<std::uint16_t>(200 + k);
    return s;
}

std::vector<std::vector<std::string>> Fields(const std::string& text) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream cols(line);
        for (std::string f; std::getline(cols, f, '\t');) fields.push_back(f);
        lines.push_back(fields);
    }
    return lines;
}

using PassRecorderTest = ScratchDirTest;

TEST_F(PassRecorderTest, HeaderOnceThenOneLinePerPassTimedFromTheFirst) {
    const auto path = (dir_ / "rec.txt").string();
    PassRecorder recorder;
    ASSERT_EQ(recorder.Start(path), FileResult::Ok);
    ASSERT_EQ(recorder.Append(Sample(0, 10, 0)), FileResult::Ok);
    // Each line is in the file as soon as it is appended.
    EXPECT_EQ(Fields(ReadWholeFile(path)).size(), 2u);
    ASSERT_EQ(recorder.Append(Sample(250, 20, 2)), FileResult::Ok);
    recorder.Stop();
    // Going on in a file with lines: no second header, the times start again.
    ASSERT_EQ(recorder.Start(path), FileResult::Ok);
    ASSERT_EQ(recorder.Append(Sample(900, 30, 3)), FileResult::Ok);
    recorder.Stop();

    const std::string text = ReadWholeFile(path);
    EXPECT_EQ(text.substr(0, text.find('\n')), PassLogHeader(true));
    const auto lines = Fields(text);
    ASSERT_EQ(lines.size(), 4u);
    const struct {
        const char* ms;
        const char* in1;
        const char* mode;
    } expected[] = {{"0", "10", "monitor"}, {"250", "20", "sim-int"}, {"0", "30", "emulator"}};
    for (int n = 0; n < 3; ++n) {
        const auto& f = lines[n + 1];
        ASSERT_EQ(f.size(), 19u) << n;
        EXPECT_EQ(f[0].size(), std::string("2026-12-08T23:40:01.123+01:00").size()) << f[0];
        EXPECT_EQ(f[1], expected[n].ms);
        EXPECT_EQ(f[2], expected[n].in1);
        EXPECT_EQ(f[17], "207");
        EXPECT_EQ(f[18], expected[n].mode);
    }
}

TEST_F(PassRecorderTest, AFailedWriteKeepsWholeLinesAndStops) {
    const auto path = (dir_ / "full.txt").string();
    PassRecorder recorder;
    ASSERT_EQ(recorder.Start(path), FileResult::Ok);
    ASSERT_EQ(recorder.Append(Sample(0, 1, 0)), FileResult::Ok);
    const std::string before = ReadWholeFile(path);
    {
        const FileSizeLimit limit(before.size() + 20);  // room for a part of the next line
        EXPECT_EQ(recorder.Append(Sample(50, 2, 0)), FileResult::WriteFailed);
    }
    EXPECT_FALSE(recorder.Recording());
    EXPECT_EQ(recorder.Append(Sample(100, 3, 0)), FileResult::WriteFailed);
    EXPECT_EQ(ReadWholeFile(path), before);
    EXPECT_STREQ(FileResultText(FileResult::WriteFailed), "Error writing file");

    // A device that takes nothing fails at the header already.
    EXPECT_EQ(recorder.Start("/dev/full"), FileResult::WriteFailed);
    EXPECT_FALSE(recorder.Recording());
    EXPECT_EQ(recorder.Start((dir_ / "no-such-dir" / "x").string()), FileResult::OpenFailed);
}

// The recorder runs on the UI thread: a FIFO or a pipe must never hold it for long.
TEST_F(PassRecorderTest, PipesWithoutAReaderOrWithAStalledOneFailInTime) {
    std::signal(SIGPIPE, SIG_IGN);  // as every program of the project does
    const auto fifo = (dir_ / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    PassRecorder recorder;
    const auto bounded = [](auto&& step) {
        const auto start = std::chrono::steady_clock::now();
        step();
        return std::chrono::steady_clock::now() - start < kRecordWriteWait * 4;
    };
    EXPECT_TRUE(bounded([&] { EXPECT_EQ(recorder.Start(fifo), FileResult::OpenFailed); }));

    // A reader that never reads: the pipe fills, then a line fails after the wait.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(recorder.Start(fifo), FileResult::Ok);
    FileResult result = FileResult::Ok;
    for (int n = 0; n < 100000 && result == FileResult::Ok; ++n) {
        EXPECT_TRUE(bounded([&] { result = recorder.Append(Sample(n, 1, 0)); }));
    }
    EXPECT_EQ(result, FileResult::WriteFailed);
    EXPECT_FALSE(recorder.Recording());

    // A reader that went away: a write error, not a SIGPIPE.
    char sink[4096];
    while (::read(reader, sink, sizeof sink) > 0) {
    }
    ASSERT_EQ(recorder.Start(fifo), FileResult::Ok);
    ::close(reader);
    EXPECT_EQ(recorder.Append(Sample(0, 1, 0)), FileResult::WriteFailed);
}

}  // namespace

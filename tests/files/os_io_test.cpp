// The operating-system pieces the file readers and writers wait and buffer with:
// deadlines of poll loops, the one read buffer over a descriptor, and taking back
// an append that failed part way.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <cerrno>
#include <climits>
#include <fstream>
#include <istream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "files_test_support.h"
#include "os/deadline.h"
#include "os/io.h"

namespace {

using files_test::ScratchDirTest;
using namespace std::chrono;

TEST(Deadline, WhatIsLeftIsRoundedUpAndNeverNegative) {
    const Deadline::Clock::time_point t0(seconds(1000));
    const Deadline deadline(t0);
    const struct {
        Deadline::Clock::duration before;  // how long before the deadline `now` is
        long long left;                    // ms
    } cases[] = {
        {seconds(2), 2000},  {microseconds(1500), 2}, {milliseconds(1), 1}, {nanoseconds(1), 1},
        {nanoseconds(0), 0}, {-nanoseconds(1), 0},    {-seconds(5), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(deadline.LeftAt(t0 - c.before).count(), c.left)
            << duration_cast<nanoseconds>(c.before).count() << " ns before";
    }
    EXPECT_EQ(deadline.At(), t0);
    EXPECT_EQ(deadline.Sooner(Deadline(t0 + seconds(1))).At(), t0);
    EXPECT_EQ(deadline.Sooner(Deadline(t0 - seconds(1))).At(), t0 - seconds(1));

    EXPECT_TRUE(Deadline::In(-seconds(1)).Passed());
    EXPECT_EQ(Deadline::In(-seconds(1)).LeftMs(), 0);
    EXPECT_FALSE(Deadline::In(hours(1)).Passed());
    EXPECT_GT(Deadline::In(hours(1)).LeftMs(), 3599000);
    // Longer than poll() can be told: the longest it can.
    EXPECT_EQ(Deadline::In(hours(24 * 60)).LeftMs(), INT_MAX);
}

// Fills from a script: each entry a piece of text, or an errno to fail with.
class ScriptedBuffer final : public FdReadBuffer {
public:
    struct Step {
        std::string text;
        int error = 0;
    };
    explicit ScriptedBuffer(std::vector<Step> steps) : steps_(std::move(steps)) {}
    int fills = 0;

protected:
    long Fill(char* buffer, std::size_t size) override {
        ++fills;
        if (next_ == steps_.size()) return 0;
        const Step& step = steps_[next_++];
        if (step.error != 0) {
            errno = step.error;
            return -1;
        }
        const std::size_t n = std::min(size, step.text.size());
        step.text.copy(buffer, n);
        return static_cast<long>(n);
    }

private:
    std::vector<Step> steps_;
    std::size_t next_ = 0;
};

TEST(FdReadBuffer, FillsInPiecesAndAFailureEndsTheStream) {
    const struct {
        std::vector<ScriptedBuffer::Step> steps;
        std::string read;
        int error;
    } cases[] = {
        {{}, "", 0},
        {{{"ab"}, {"c\nd"}}, "abc\nd", 0},
        {{{"ab"}, {"", EIO}, {"never"}}, "ab", EIO},  // a failure is the end
        {{{"", ETIMEDOUT}}, "", ETIMEDOUT},
    };
    for (const auto& c : cases) {
        ScriptedBuffer buffer(c.steps);
        std::istream in(&buffer);
        const std::string read{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(read, c.read);
        EXPECT_EQ(buffer.error(), c.error) << c.read;
    }
}

using FdStreamTest = ScratchDirTest;

TEST_F(FdStreamTest, AFileReadsWholeAndAMissingOneSaysWhy) {
    std::string text;
    for (int n = 0; n < 30000; ++n) text += std::to_string(n) + '\n';  // over one buffer
    Write("lines.txt", text);
    FdReadBuffer file(OpenForReading((dir_ / "lines.txt").string()));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(&file), {}), text);
    EXPECT_EQ(file.error(), 0);

    FdReadBuffer missing(OpenForReading((dir_ / "missing.txt").string()));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(&missing), {}), "");
    EXPECT_EQ(missing.error(), EBADF);
}

TEST_F(FdStreamTest, AnAppendIsTakenBackToItsMark) {
    Write("log.txt", "one\n");
    UniqueFd fd(::open((dir_ / "log.txt").string().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    ASSERT_TRUE(fd);
    const AppendMark mark(fd.get());
    EXPECT_TRUE(mark.Regular());
    ASSERT_EQ(WriteAll(fd.get(), "tw", 2), 0);
    mark.TakeBack();
    ASSERT_EQ(WriteAll(fd.get(), "two\n", 4), 0);
    std::ifstream in((dir_ / "log.txt").string(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "one\ntwo\n");

    // A pipe keeps what reached it.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    UniqueFd reader(ends[0]);
    UniqueFd writer(ends[1]);
    const AppendMark pipeMark(writer.get());
    EXPECT_FALSE(pipeMark.Regular());
    ASSERT_EQ(WriteAll(writer.get(), "ab", 2), 0);
    pipeMark.TakeBack();
    char got[2] = {};
    EXPECT_EQ(::read(reader.get(), got, 2), 2);
}

}  // namespace

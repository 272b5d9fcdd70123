#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/serial_device_posix.h"
#include "engine/stop_signal.h"
#include "link/pty_module.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class TermiosDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty_.Ok()); }

    std::unique_ptr<SerialDevice> OpenPty() {
        SerialOpenResult r = opener_.Open(pty_.Path(), stop_);
        EXPECT_EQ(r.stage, LinkStage::None) << r.error;
        return std::move(r.device);
    }

    // The master side, read directly (no serving thread in these tests).
    std::string ReadMaster(std::size_t count) {
        std::string bytes;
        const auto deadline = Clock::now() + 2s;
        while (bytes.size() < count && Clock::now() < deadline) {
            pollfd p{pty_.MasterFd(), POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char b[64];
            const ssize_t n = ::read(pty_.MasterFd(), b, std::min(sizeof b, count - bytes.size()));
            if (n > 0) bytes.append(b, static_cast<std::size_t>(n));
        }
        return bytes;
    }

    PtyModule pty_;
    StopSignal stop_;
    TermiosOpener opener_;
};

TEST_F(TermiosDeviceTest, ConfiguresNineHundredSixtyBaudRawWithoutFlowControl) {
    auto device = OpenPty();
    ASSERT_TRUE(device);
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty_.MasterFd(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);

    // Control characters, NUL and XON/XOFF pass untouched both ways.
    const std::string raw("\0\r\n\x11\x13\x03\xFF", 7);
    const SerialTransfer w = device->Write(raw.data(), raw.size());
    EXPECT_EQ(w.count, raw.size());
    EXPECT_EQ(w.error, 0);
    EXPECT_EQ(ReadMaster(raw.size()), raw);
    pty_.Send(raw);
    char in[7];
    const SerialTransfer r = device->Read(in, sizeof in);
    EXPECT_EQ(r.count, sizeof in);
    EXPECT_EQ(std::string(in, sizeof in), raw);
}

TEST_F(TermiosDeviceTest, OpenFailuresNameTheirStageAndErrno) {
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("pelkora-termios-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "plain") << "not a terminal";
    const struct {
        std::string path;
        LinkStage stage;
        int error;
    } cases[] = {
        {(dir / "missing").string(), LinkStage::Open, ENOENT},
        {dir.string(), LinkStage::Open, EISDIR},
        {(dir / "plain").string(), LinkStage::ReadSettings, ENOTTY},
    };
    for (const auto& c : cases) {
        const SerialOpenResult r = opener_.Open(c.path, stop_);
        EXPECT_EQ(r.stage, c.stage) << c.path;
        EXPECT_EQ(r.error, c.error) << c.path;
        EXPECT_FALSE(r.device) << c.path;
    }
    fs::remove_all(dir);
}

TEST_F(TermiosDeviceTest, ASecondOpenerIsRefusedUntilTheFirstCloses) {
    auto first = OpenPty();
    ASSERT_TRUE(first);
    const SerialOpenResult second = opener_.Open(pty_.Path(), stop_);
    EXPECT_EQ(second.stage, LinkStage::Open);
    // EBUSY from the terminal's exclusive mode, or the lock for a privileged opener.
    EXPECT_TRUE(second.error == EBUSY || second.error == EWOULDBLOCK) << second.error;
    first.reset();
    EXPECT_TRUE(OpenPty());

    // Another program holding the lock is just as busy.
    const int other = ::open(pty_.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(opener_.Open(pty_.Path(), stop_).error, EWOULDBLOCK);
    ::close(other);
}

TEST_F(TermiosDeviceTest, ReadEndsAnIntervalAfterTheLastByteAndKeepsLateBytes) {
    auto device = OpenPty();
    ASSERT_TRUE(device);
    pty_.Send("0123456789ABCDE");  // 15 of 16
    char buffer[16];
    const auto start = Clock::now();
    const SerialTransfer r = device->Read(buffer, sizeof buffer);
    const auto elapsed = MsSince(start);
    EXPECT_EQ(r.count, 15u);
    EXPECT_EQ(r.error, ETIMEDOUT);
    EXPECT_FALSE(r.deviceGone);
    EXPECT_GE(elapsed, 95);
    EXPECT_LT(elapsed, 700);  // far below the 1700 ms total

    pty_.Send("F");  // late: it waits for the next read
    char late;
    EXPECT_EQ(device->Read(&late, 1).count, 1u);
    EXPECT_EQ(late, 'F');
}

TEST_F(TermiosDeviceTest, BytesCloserThanTheIntervalAllCome) {
    auto device = OpenPty();
    ASSERT_TRUE(device);
    // 20 ms apart: well inside the 100 ms interval even when a busy machine
    // wakes the sender late.
    std::thread sender([this] {
        for (char c : std::string("wxyz")) {
            pty_.Send(std::string(1, c));
            std::this_thread::sleep_for(20ms);
        }
    });
    char buffer[4];
    const SerialTransfer r = device->Read(buffer, sizeof buffer);
    sender.join();
    EXPECT_EQ(r.count, 4u);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(std::string(buffer, 4), "wxyz");
}

TEST_F(TermiosDeviceTest, SilentReadEndsAtTheTotalTime) {
    auto device = OpenPty();
    ASSERT_TRUE(device);
    char buffer[2];
    const auto start = Clock::now();
    const SerialTransfer r = device->Read(buffer, sizeof buffer);  // 2 x 100 + 100 ms
    const auto elapsed = MsSince(start);
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(r.error, ETIMEDOUT);
    EXPECT_GE(elapsed, 295);
    EXPECT_LT(elapsed, 900);
}

TEST_F(TermiosDeviceTest, StopRequestEndsAWaitAtOnce) {
    auto device = OpenPty();
    ASSERT_TRUE(device);
    std::thread stopper([this] {
        std::this_thread::sleep_for(100ms);
        stop_.Request();
    });
    char buffer[16];
    const auto start = Clock::now();
    const SerialTransfer r = device->Read(buffer, sizeof buffer);
    const auto elapsed = MsSince(start);
    stopper.join();
    EXPECT_EQ(r.error, EINTR);
    EXPECT_FALSE(r.deviceGone);
    EXPECT_LT(elapsed, 600);
}

TEST_F(TermiosDeviceTest, VanishedDeviceIsReportedAsGone) {
    auto device = OpenPty();
    ASSERT_TRUE(device);
    pty_.Unplug();
    // A hung-up line reports itself readable; the pause after a reply must not take
    // that for a stray byte.
    EXPECT_EQ(device->WaitForInput(std::chrono::milliseconds(200)), InputWait::Failed);
    char buffer[16];
    const SerialTransfer r = device->Read(buffer, sizeof buffer);
    EXPECT_TRUE(r.deviceGone);
    EXPECT_TRUE(IsDeviceGoneError(r.error)) << r.error;
    const SerialTransfer w = device->Write("I", 1);
    EXPECT_TRUE(w.deviceGone);
    EXPECT_EQ(w.count, 0u);
}

}  // namespace

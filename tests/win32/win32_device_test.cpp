#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "engine/serial_device_win32.h"
#include "engine/stop_signal.h"
#include "engine/win32_comm_settings.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(Win32CommSettings, SetsTheLinkFieldsAndKeepsTheDriversOthers) {
    DCB dcb;
    std::memset(&dcb, 0xFF, sizeof dcb);  // a driver that reports every bit set
    ApplyLinkSettings(dcb);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    // Bits 2..9 and 11..13 of the flag word cleared; 0, 1, 10 and 14 kept.
    std::uint32_t flags;
    std::memcpy(&flags, reinterpret_cast<const char*>(&dcb) + offsetof(DCB, BaudRate) + 4,
                sizeof flags);
    EXPECT_EQ(flags & 0x7FFFu, 0x7FFFu & ~0x3BFCu);
    EXPECT_EQ(dcb.XonLim, 0xFFFF);
    EXPECT_EQ(dcb.XoffChar, static_cast<char>(0xFF));
}

TEST(Win32CommSettings, TimeoutsMapFieldByField) {
    struct Case {
        SerialTimeouts in;
        COMMTIMEOUTS out;
    };
    const Case cases[] = {
        {{}, {100, 100, 100, 100, 100}},  // the link's: 16 bytes read in 1700 ms at most
        {{1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}},
        {{0, 0, 250, 0, 60}, {0, 0, 250, 0, 60}},
    };
    for (const Case& c : cases) {
        const COMMTIMEOUTS t = LinkTimeouts(c.in);
        EXPECT_EQ(t.ReadIntervalTimeout, c.out.ReadIntervalTimeout);
        EXPECT_EQ(t.ReadTotalTimeoutMultiplier, c.out.ReadTotalTimeoutMultiplier);
        EXPECT_EQ(t.ReadTotalTimeoutConstant, c.out.ReadTotalTimeoutConstant);
        EXPECT_EQ(t.WriteTotalTimeoutMultiplier, c.out.WriteTotalTimeoutMultiplier);
        EXPECT_EQ(t.WriteTotalTimeoutConstant, c.out.WriteTotalTimeoutConstant);
    }
}

TEST(Win32Device, GoneOnlyOnTheErrorsOfARemovedDevice) {
    const struct {
        DWORD error;
        bool gone;
    } cases[] = {
        {ERROR_ACCESS_DENIED, true},
        {ERROR_OPERATION_ABORTED, true},
        {ERROR_BAD_COMMAND, true},
        {ERROR_DEVICE_NOT_CONNECTED, true},
        {ERROR_GEN_FAILURE, true},
        {ERROR_INVALID_HANDLE, true},
        {433, true},  // ERROR_NO_SUCH_DEVICE
        {ERROR_TIMEOUT, false},
        {ERROR_SUCCESS, false},
        {ERROR_IO_PENDING, false},
        {ERROR_FILE_NOT_FOUND, false},
        {ERROR_INVALID_PARAMETER, false},
        {ERROR_COUNTER_TIMEOUT, false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsWin32DeviceGoneError(c.error), c.gone) << c.error;
}

TEST(Win32Device, BareNamesGoThroughTheDeviceNamespace) {
    EXPECT_EQ(Win32DeviceName("COM1"), "\\\\.\\COM1");
    EXPECT_EQ(Win32DeviceName("COM12"), "\\\\.\\COM12");
    EXPECT_EQ(Win32DeviceName("\\\\.\\COM3"), "\\\\.\\COM3");
    EXPECT_EQ(Win32DeviceName("//./COM3"), "//./COM3");
}

TEST(Win32Device, AMissingPortFailsAtTheOpenStage) {
    StopSignal stop;
    Win32SerialOpener opener;
    const SerialOpenResult r = opener.Open("COM9", stop);
    EXPECT_EQ(r.stage, LinkStage::Open);
    EXPECT_NE(r.error, 0);
    EXPECT_EQ(r.device, nullptr);
}

// A virtual module on the port answers commands only: a read that follows no
// command meets a silent module.
class Win32PortTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* port = std::getenv("PELKORA_TEST_PORT");
        if (port == nullptr || *port == '\0') GTEST_SKIP() << "PELKORA_TEST_PORT not set";
        opened_ = opener_.Open(port, stop_);
        ASSERT_EQ(opened_.stage, LinkStage::None) << opened_.error;
    }

    StopSignal stop_;
    Win32SerialOpener opener_;
    SerialOpenResult opened_;
};

TEST_F(Win32PortTest, AnswersAnInputRequest) {
    const SerialTransfer w = opened_.device->Write("I", 1);
    EXPECT_EQ(w.count, 1u);
    EXPECT_EQ(w.error, 0);
    char reply[16];
    const SerialTransfer r = opened_.device->Read(reply, sizeof reply);
    EXPECT_EQ(r.count, 16u);
    EXPECT_EQ(r.error, 0);
}

TEST_F(Win32PortTest, ASilentModuleFailsTheReadAfter1700ms) {
    char reply[16];
    const auto start = Clock::now();
    const SerialTransfer r = opened_.device->Read(reply, sizeof reply);
    const auto took = Clock::now() - start;
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(r.error, ERROR_TIMEOUT);
    EXPECT_FALSE(r.deviceGone);
    EXPECT_GE(took, milliseconds(1600));
    EXPECT_LT(took, milliseconds(2600));
}

TEST_F(Win32PortTest, AStopEndsAWaitingReadAtOnce) {
    std::thread stopper([this] {
        std::this_thread::sleep_for(milliseconds(200));
        stop_.Request();
    });
    char reply[16];
    const auto start = Clock::now();
    const SerialTransfer r = opened_.device->Read(reply, sizeof reply);
    const auto took = Clock::now() - start;
    stopper.join();
    EXPECT_EQ(r.error, ERROR_OPERATION_ABORTED);
    EXPECT_FALSE(r.deviceGone);  // our own cancel: the port stays usable
    EXPECT_LT(took, milliseconds(1000));
    stop_.Reset();
    // Still usable after the cancel.
    ASSERT_EQ(opened_.device->Write("I", 1).count, 1u);
    EXPECT_EQ(opened_.device->Read(reply, sizeof reply).count, 16u);
}

}  // namespace

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "engine/net_port.h"
#include "engine/serial_device.h"
#include "engine/serial_link.h"
#include "engine/stop_signal.h"

namespace {

// A port whose open, read and write outcomes the test decides.
struct FakePort {
    std::vector<std::string> opened;  // paths, in order
    LinkStage openStage = LinkStage::None;
    int openError = 0;
    std::deque<SerialTransfer> writes;  // outcomes of the next writes (default: all written)
    std::deque<SerialTransfer> reads;   // outcomes of the next reads (default: all read)
    std::string written;
    int live = 0;  // devices not yet closed
};

class FakeDevice final : public SerialDevice {
public:
    explicit FakeDevice(FakePort& port) : port_(port) { ++port_.live; }
    ~FakeDevice() override { --port_.live; }
    SerialTransfer Write(const char* data, std::size_t size) override {
        port_.written.append(data, size);
        return Next(port_.writes, size);
    }
    SerialTransfer Read(char* buffer, std::size_t size) override {
        std::memset(buffer, '0', size);
        return Next(port_.reads, size);
    }
    void DiscardInput() override {}
    InputWait WaitForInput(std::chrono::milliseconds) override { return InputWait::Quiet; }

private:
    static SerialTransfer Next(std::deque<SerialTransfer>& queue, std::size_t size) {
        if (queue.empty()) return {size, 0, false};
        const SerialTransfer t = queue.front();
        queue.pop_front();
        return t;
    }
    FakePort& port_;
};

class FakeOpener final : public SerialOpener {
public:
    explicit FakeOpener(FakePort& port) : port_(port) {}
    SerialOpenResult Open(const std::string& path, const StopSignal&) override {
        port_.opened.push_back(path);
        SerialOpenResult r;
        r.stage = port_.openStage;
        r.error = port_.openError;
        if (r.stage == LinkStage::None) r.device = std::make_unique<FakeDevice>(port_);
        return r;
    }

private:
    FakePort& port_;
};

class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("PELKORA_COM1", "/dev/fake-com1", 1);
        ::setenv("PELKORA_COM2", "/dev/fake-com2", 1);
        NewLink(PortMap::FromEnvironment());
    }
    void TearDown() override {
        link_.reset();
        ::unsetenv("PELKORA_COM1");
        ::unsetenv("PELKORA_COM2");
    }

    void NewLink(PortMap ports) {
        link_.reset();
        link_ = std::make_unique<SerialLink>(opener_, stop_, std::move(ports));
    }
    static std::string ComPortDevice(int comPort) {
        return PortMap::FromEnvironment().ports[comPort == 0 ? 0 : 1].device;
    }
    bool WriteTarget(const char* text) { return Done(link_->WriteTarget(comPort_, text)); }
    bool ReadTarget(char* buffer, std::size_t count) {
        return Done(link_->ReadTarget(buffer, count));
    }
    void CloseTargetPort() { link_->CloseTargetPort(); }
    void ChoosePort(int comPort) { comPort_ = comPort; }
    // The status line's text of the last failure.
    std::string Status() const { return LinkErrorText(last_, link_->PortName()).text; }
    std::string OpenPort() const { return link_->OpenPortName(); }

    bool Done(const LinkError& e) {
        if (e.failed()) last_ = e;
        return !e.failed();
    }

    StopSignal stop_;
    std::unique_ptr<SerialLink> link_;
    int comPort_ = 0;
    LinkError last_;
    FakePort port_;
    FakeOpener opener_{port_};
};

TEST_F(SerialLinkTest, OpenAndConfigurationFailuresCloseTheLinkWithTheirText) {
    const struct {
        LinkStage stage;
        int error;
        const char* text;
    } cases[] = {
        {LinkStage::Open, ENOENT, "Error opening COM1 port (1-2)"},
        {LinkStage::Open, EBUSY, "Error opening COM1 port (1-16)"},
        {LinkStage::ReadSettings, ENOTTY, "Error configuring com port (1-25)"},
        {LinkStage::ApplySettings, EINVAL, "Error configuring com port (2-22)"},
        {LinkStage::ApplyTimeouts, EIO, "Error configuring com port (3-5)"},
    };
    for (const auto& c : cases) {
        port_.openStage = c.stage;
        port_.openError = c.error;
        const std::size_t before = port_.opened.size();
        EXPECT_FALSE(WriteTarget("R"));
        EXPECT_EQ(Status(), c.text);
        EXPECT_EQ(OpenPort(), "");
        EXPECT_EQ(port_.live, 0);
        EXPECT_EQ(port_.written, "");
        // Every command tries again; once the port can be opened, it is.
        EXPECT_FALSE(WriteTarget("R"));
        EXPECT_EQ(port_.opened.size(), before + 2);
    }
    port_.openStage = LinkStage::None;
    EXPECT_TRUE(WriteTarget("R"));
    EXPECT_EQ(OpenPort(), "COM1");
    EXPECT_EQ(port_.written, "R");
}

TEST(LinkCauseTextTest, SaysTheCauseInWords) {
    const char* const server = "rfc2217://bench:7000";
    const struct {
        LinkError error;
        const char* cause;
        const char* device = "/dev/ttyUSB0";
    } cases[] = {
        {{LinkStage::None, 0}, ""},
        {{LinkStage::Open, ENOENT}, "no such device"},
        {{LinkStage::Open, EBUSY}, "in use by another program"},        // TIOCEXCL
        {{LinkStage::Open, EWOULDBLOCK}, "in use by another program"},  // flock
        {{LinkStage::Open, EACCES}, "no permission (is the user in the dialout group?)"},
        {{LinkStage::ReadSettings, ENOTTY}, "not a serial port"},
        {{LinkStage::Read, ETIMEDOUT}, "no reply in time (the module is silent or too slow)"},
        {{LinkStage::Write, ETIMEDOUT}, "no answer in time"},
        // A reply cut off by a vanished device is no stray byte.
        {{LinkStage::Read, EIO}, "the device went away (unplugged or closed)"},
        {{LinkStage::Read, kReplyOverrunError},
         "bytes came after the reply (a stray byte, or a module that streams)"},
        {{LinkStage::Read, kBadReplyError}, "a reply character that is not a hexadecimal digit"},
        {{LinkStage::Write, EPIPE}, std::strerror(EPIPE)},
        // A port server's codes overlap with a device's: read as such only for one.
        {{LinkStage::Open, kNetHostNotFound}, "host not found", server},
        {{LinkStage::Open, kNetHostNotFound}, "no such device", "/dev/ttyUSB0"},
        {{LinkStage::Open, kNetRefused}, "connection refused", server},
        {{LinkStage::Read, kNetClosed}, "closed by the server", server},
        {{LinkStage::Read, EIO}, "the device went away (unplugged or closed)", server},
        {{LinkStage::Read, ETIMEDOUT},
         "no reply in time (the module is silent or too slow)",
         server},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LinkCauseText(c.error, c.device), c.cause)
            << int(c.error.stage) << " " << c.error.code << " " << c.device;
    }
}

TEST_F(SerialLinkTest, PortNamesMapToDevices) {
    EXPECT_EQ(ComPortDevice(0), "/dev/fake-com1");
    EXPECT_EQ(ComPortDevice(1), "/dev/fake-com2");
    EXPECT_EQ(ComPortDevice(7), "/dev/fake-com2");  // any other value is COM2
    ::unsetenv("PELKORA_COM1");
    ::setenv("PELKORA_COM2", "", 1);
    EXPECT_EQ(ComPortDevice(0), "/dev/ttyS0");
    EXPECT_EQ(ComPortDevice(1), "/dev/ttyS1");

    NewLink(PortMap::FromEnvironment());
    ChoosePort(1);
    port_.openStage = LinkStage::Open;
    port_.openError = EACCES;
    EXPECT_FALSE(WriteTarget("I"));
    EXPECT_EQ(Status(), "Error opening COM2 port (1-13)");
    EXPECT_EQ(port_.opened.back(), "/dev/ttyS1");
}

TEST_F(SerialLinkTest, DeviceOverrideReplacesTheMappingAndTheName) {
    NewLink(PortMap::SingleDevice("/tmp/some-adapter"));
    port_.openStage = LinkStage::Open;
    port_.openError = ENOENT;
    for (int comPort : {0, 1}) {
        ChoosePort(comPort);
        EXPECT_FALSE(WriteTarget("R"));
        EXPECT_EQ(Status(), "Error opening /tmp/some-adapter port (1-2)");
        EXPECT_EQ(port_.opened.back(), "/tmp/some-adapter");
    }
}

TEST_F(SerialLinkTest, PortChoiceTakesEffectAtTheNextCommand) {
    ASSERT_TRUE(WriteTarget("R"));
    ASSERT_TRUE(WriteTarget("I"));
    EXPECT_EQ(port_.opened, std::vector<std::string>{"/dev/fake-com1"});

    ChoosePort(1);  // nothing happens until a command is written
    EXPECT_EQ(OpenPort(), "COM1");
    EXPECT_EQ(port_.live, 1);
    ASSERT_TRUE(WriteTarget("R"));
    EXPECT_EQ(OpenPort(), "COM2");
    EXPECT_EQ(port_.opened, (std::vector<std::string>{"/dev/fake-com1", "/dev/fake-com2"}));
    EXPECT_EQ(port_.live, 1);  // COM1 closed, COM2 open

    // Back and forth between two commands, ending on the open port: untouched.
    ChoosePort(0);
    ChoosePort(1);
    ASSERT_TRUE(WriteTarget("R"));
    EXPECT_EQ(port_.opened.size(), 2u);
    EXPECT_EQ(port_.written, "RIRR");
}

TEST_F(SerialLinkTest, TransferFailuresKeepThePortOpenUnlessTheDeviceIsGone) {
    const struct {
        bool write;
        SerialTransfer outcome;
        const char* text;
        bool stillOpen;
    } cases[] = {
        {true, {0, ETIMEDOUT, false}, "Error writing to target (110)", true},
        {true, {0, EIO, true}, "Error writing to target (5)", false},
        {false, {15, ETIMEDOUT, false}, "Error reading from target (110)", true},
        {false, {0, EINTR, false}, "Error reading from target (4)", true},
        {false, {3, ENXIO, true}, "Error reading from target (6)", false},
        {false, {0, ENODEV, true}, "Error reading from target (19)", false},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteTarget("I"));
        const std::size_t opens = port_.opened.size();
        char reply[16];
        bool ok;
        if (c.write) {
            port_.writes.push_back(c.outcome);
            ok = WriteTarget("I");
        } else {
            port_.reads.push_back(c.outcome);
            ok = ReadTarget(reply, sizeof reply);
        }
        EXPECT_FALSE(ok) << c.text;
        EXPECT_EQ(Status(), c.text);
        EXPECT_EQ(!OpenPort().empty(), c.stillOpen) << c.text;
        EXPECT_EQ(port_.live, c.stillOpen ? 1 : 0) << c.text;
        // The next command reopens a gone device, and only then.
        ASSERT_TRUE(WriteTarget("I"));
        EXPECT_EQ(port_.opened.size(), opens + (c.stillOpen ? 0 : 1)) << c.text;
    }
}

TEST_F(SerialLinkTest, ReadWithoutAnOpenPortFailsQuietly) {
    char reply[16];
    EXPECT_FALSE(ReadTarget(reply, sizeof reply));
    EXPECT_EQ(Status(), "Error reading from target (9)");
    CloseTargetPort();  // nothing open: nothing happens
    CloseTargetPort();
    EXPECT_EQ(OpenPort(), "");
    EXPECT_TRUE(port_.opened.empty());
}

}  // namespace

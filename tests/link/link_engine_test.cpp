// The real worker in Monitor and Emulator mode against modules played on
// pseudo-terminals: bytes on the wire, pauses, failures and recovery.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "engine/engine_fixture.h"
#include "engine/serial_device_posix.h"
#include "link/pty_module.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

long long Ms(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

// Answers "I" and "O" with fixed replies, like a module with steady values.
PtyModule::Responder Replies(std::string toI, std::string toO) {
    return [toI, toO](char c) -> std::string {
        if (c == 'I') return toI;
        if (c == 'O') return toO;
        return {};
    };
}

class LinkEngineTest : public EngineTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(module_.Ok());
        dir_ = fs::temp_directory_path() / ("pelkora-link-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        ::setenv("PELKORA_COM1", module_.Path().c_str(), 1);
        ::setenv("PELKORA_COM2", (dir_ / "no-com2").c_str(), 1);
        EngineTest::SetUp();
    }

    // True when the device can be opened by another program: the link let it go.
    bool Released(const std::string& path) {
        TermiosOpener other;
        const StopSignal stop;
        return other.Open(path, stop).stage == LinkStage::None;
    }
    void TearDown() override {
        EngineTest::TearDown();  // stops the worker, which closes the port
        ::unsetenv("PELKORA_COM1");
        ::unsetenv("PELKORA_COM2");
        fs::remove_all(dir_);
    }

    // Waits until a notification carried `text`; `after` skips earlier ones.
    bool WaitForStatus(const std::string& text, std::size_t after = 0,
                       std::chrono::milliseconds timeout = 30s) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            const auto seen = Seen();
            if (std::find(seen.begin() + static_cast<long>(std::min(after, seen.size())),
                          seen.end(), text) != seen.end()) {
                return true;
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    void Run(EngineMode mode) {
        SetMode(mode);
        ASSERT_TRUE(StartEngine());
    }

    PtyModule module_;
    fs::path dir_;
};

TEST_F(LinkEngineTest, MonitorSendsRIOWithItsPausesAndStoresBothReplies) {
    // Upper case for the inputs, lower case for the outputs: both are accepted.
    module_.Serve(Replies("00FF1001807F0AC8",
                          "c80a7f8001"
                          "10ff00"));
    Run(MODE_MONITOR);
    ASSERT_TRUE(module_.WaitForBytes(7));
    StopEngine();
    const auto log = module_.Log();
    EXPECT_EQ(module_.Bytes().substr(0, 7), "RIORIOR");
    {
        std::lock_guard lock(State().hMutex);
        EXPECT_EQ(State().wInputs, (NetInputs{0, 255, 16, 1, 128, 127, 10, 200}));
        EXPECT_EQ(State().wOutputs, (NetOutputs{200, 10, 127, 128, 1, 16, 255, 0}));
    }
    const auto seen = Seen();
    EXPECT_NE(std::find(seen.begin(), seen.end(), "Monitoring target values"), seen.end());
    // R, 50 ms, I; reply, 50 ms, O; reply, 50 ms in the step and 50 ms in the loop, R.
    const long long minimum[] = {50, 50, 100, 50, 50, 100};
    for (std::size_t i = 0; i + 1 < 7; ++i) {
        const long long gap = Ms(log[i + 1].at - log[i].at);
        EXPECT_GE(gap, minimum[i] - 10) << "between byte " << i << " and " << i + 1;
        EXPECT_LT(gap, minimum[i] + 400) << "between byte " << i << " and " << i + 1;
    }
}

TEST_F(LinkEngineTest, EmulatorSendsSIAndOneFrameOfTheComputedOutputs) {
    {
        std::lock_guard lock(State().hMutex);
        State().sModuleWeights[3] = 150;    // input 1 to hidden 4
        State().sModuleWeights[173] = 150;  // hidden 4 to output 6
    }
    module_.Serve(Replies("ff02030405060708", "0000000000000000"));
    Run(MODE_EMULATOR);
    const std::string pass = "SIP8080808080FF8080";
    ASSERT_TRUE(module_.WaitForBytes(2 * pass.size() + 1));
    StopEngine();
    EXPECT_EQ(module_.Bytes().substr(0, 2 * pass.size() + 1), pass + pass + "S");
    {
        std::lock_guard lock(State().hMutex);
        EXPECT_EQ(State().wInputs, (NetInputs{255, 2, 3, 4, 5, 6, 7, 8}));
        EXPECT_EQ(State().wOutputs, (NetOutputs{128, 128, 128, 128, 128, 255, 128, 128}));
    }
    const auto log = module_.Log();
    // The module's clock reads a byte when its thread wakes, which may be late by
    // a scheduler's slice on a busy machine: the lower bounds allow for that and
    // still tell a pause from none (the frame's own bytes come within 1 ms).
    EXPECT_GE(Ms(log[1].at - log[0].at), 30);     // S, pause, I
    EXPECT_GE(Ms(log[2].at - log[1].at), 30);     // reply, pause, P
    EXPECT_LT(Ms(log[18].at - log[2].at), 50);    // the frame in one go
    EXPECT_GE(Ms(log[19].at - log[18].at), 120);  // 100 ms + the loop's 50
    EXPECT_LT(Ms(log[19].at - log[18].at), 600);
}

TEST_F(LinkEngineTest, ShortReplyFailsAnIntervalAfterItsLastByteAndNoOIsSent) {
    module_.Serve(Replies("00FF1001807F0AC", "0000000000000000"));  // 15 bytes
    Run(MODE_MONITOR);
    ASSERT_TRUE(WaitForStatus("Error reading from target (110)"));
    ASSERT_TRUE(module_.WaitForBytes(3));
    StopEngine();
    const auto log = module_.Log();
    EXPECT_EQ(module_.Bytes().substr(0, 3), "RIR");
    // ~100 ms after the reply's last byte, then the loop's 50 ms.
    const long long gap = Ms(log[2].at - log[1].at);
    EXPECT_GE(gap, 145);
    EXPECT_LT(gap, 900);
    EXPECT_TRUE(Released(module_.Path()));  // closed by the stop, not by the failure
}

TEST_F(LinkEngineTest, SilentModuleFailsTheReadAfterTheTotalTime) {
    module_.Serve(nullptr);
    Run(MODE_MONITOR);
    ASSERT_TRUE(module_.WaitForBytes(3, 10s));
    const auto log = module_.Log();
    EXPECT_EQ(module_.Bytes().substr(0, 3), "RIR");
    const long long gap = Ms(log[2].at - log[1].at);  // 1700 ms, then the loop's 50 ms
    EXPECT_GE(gap, 1740);
    EXPECT_LT(gap, 2700);
    EXPECT_TRUE(WaitForStatus("Error reading from target (110)"));
}

// After a read that timed out, the next pass waits for the late reply before its
// "I" (6 s after the command at most); the operator's choice of another mode
// ends that wait at once.
TEST_F(LinkEngineTest, AModeChosenWhileALateReplyIsAwaitedTakesEffectAtOnce) {
    module_.Serve(nullptr);
    Run(MODE_MONITOR);
    ASSERT_TRUE(WaitForStatus("Error reading from target (110)"));
    ASSERT_TRUE(module_.WaitForBytes(3));  // R, I, then the next pass's R: waiting now
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(module_.Bytes(), "RIR");  // no "I" while the reply is owed
    const std::size_t before = Seen().size();
    const auto start = Clock::now();
    SetMode(MODE_HOLD);
    ASSERT_TRUE(WaitForStatus(kStatusHold, before));
    EXPECT_LT(Ms(Clock::now() - start), 1500);
}

TEST_F(LinkEngineTest, StopDuringALongReadEndsTheWorkerAtOnce) {
    module_.Serve(nullptr);
    Run(MODE_MONITOR);
    ASSERT_TRUE(module_.WaitForBytes(2));  // R, I: now waiting up to 1700 ms
    std::this_thread::sleep_for(100ms);
    const auto start = Clock::now();
    RequestEngineStop();
    EXPECT_TRUE(WaitForEngine(2s));
    EXPECT_LT(Ms(Clock::now() - start), 100);
    // The port was closed: another program can have it now.
    EXPECT_TRUE(Released(module_.Path()));
}

// Whatever the queue held before a command (a byte before the open, a byte too
// many, a reply that came after the time-out, the reply of a pass cut short), the
// passes after it carry the right values.
TEST_F(LinkEngineTest, RepliesAreReadFromACleanQueue) {
    const std::string toI = "0102030405060708";
    const std::string toO = "1112131415161718";
    struct Case {
        const char* name;
        std::string before;  // sent before the tool opens the port
        PtyModule::Responder responder;
    };
    int calls = 0;
    const Case cases[] = {
        {"bytes queued before the open", "7" + toO, Replies(toI, toO)},
        {"a late reply", "",
         [&](char c) -> std::string {
             if (c == 'I' && calls++ == 0) std::this_thread::sleep_for(1800ms);
             return Replies(toI, toO)(c);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyModule module;
        ASSERT_TRUE(module.Ok());
        ::setenv("PELKORA_COM1", module.Path().c_str(), 1);
        NewEngine();
        if (!c.before.empty()) module.Send(c.before);
        std::this_thread::sleep_for(20ms);
        module.Serve(c.responder);
        Run(MODE_MONITOR);
        // Two good passes after whatever went wrong first.
        const std::size_t from = Reports().size();
        const auto deadline = Clock::now() + 8s;
        int good = 0;
        while (Clock::now() < deadline && good < 2) {
            std::this_thread::sleep_for(10ms);
            const auto reports = Reports();
            good = 0;
            for (std::size_t k = from; k < reports.size(); ++k) {
                if (reports[k].kind == PassReport::Kind::Pass && reports[k].ok) ++good;
            }
        }
        StopEngine();
        ASSERT_EQ(good, 2);
        for (const PassReport& r : Reports()) {
            if (r.kind != PassReport::Kind::Pass || !r.ok) continue;
            EXPECT_EQ(r.inputs, (NetInputs{1, 2, 3, 4, 5, 6, 7, 8}));
            EXPECT_EQ(r.outputs, (NetOutputs{0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18}));
        }
    }
}

TEST_F(LinkEngineTest, MissingPortIsRetriedEachPassUntilItAppears) {
    const fs::path link = dir_ / "com1";
    ::setenv("PELKORA_COM1", link.c_str(), 1);
    NewEngine();  // the port map is read when the engine is made
    module_.Serve(Replies("0000000000000000", "0000000000000000"));
    Run(MODE_MONITOR);
    ASSERT_TRUE(WaitForStatus("Error opening COM1 port (1-2)"));
    const std::size_t failed = Seen().size();
    ASSERT_TRUE(WaitForStatus("Error opening COM1 port (1-2)", failed));  // tried again
    EXPECT_TRUE(module_.Bytes().empty());  // each failed pass sends nothing
    fs::create_symlink(module_.Path(), link);
    EXPECT_TRUE(module_.WaitForBytes(3));
    EXPECT_EQ(module_.Bytes().substr(0, 3), "RIO");
}

TEST_F(LinkEngineTest, BusyPortFailsToOpenUntilReleased) {
    const int other = ::open(module_.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    module_.Serve(Replies("0000000000000000", "0000000000000000"));
    Run(MODE_EMULATOR);
    ASSERT_TRUE(WaitForStatus("Error opening COM1 port (1-11)"));
    ::close(other);
    EXPECT_TRUE(module_.WaitForBytes(2));
    EXPECT_EQ(module_.Bytes().substr(0, 2), "SI");
}

TEST_F(LinkEngineTest, PortChoiceSwitchesAtTheNextCommand) {
    PtyModule com2;
    ASSERT_TRUE(com2.Ok());
    ::setenv("PELKORA_COM2", com2.Path().c_str(), 1);
    NewEngine();  // the port map is read when the engine is made
    module_.Serve(Replies("0101010101010101", "0202020202020202"));
    com2.Serve(Replies("0303030303030303", "0404040404040404"));
    Run(MODE_MONITOR);
    ASSERT_TRUE(module_.WaitForBytes(3));
    {
        std::lock_guard lock(State().hMutex);
        State().nComPort = 1;
    }
    ASSERT_TRUE(com2.WaitForBytes(4));
    const std::size_t com1Bytes = module_.Bytes().size();
    EXPECT_EQ(com2.Bytes().substr(0, 4), "RIOR");
    // COM1 is closed: another program may open it, and the tool sends it nothing more.
    EXPECT_TRUE(Released(module_.Path()));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(module_.Bytes().size(), com1Bytes);
    StopEngine();
    std::lock_guard lock(State().hMutex);
    EXPECT_EQ(State().wInputs, (NetInputs{3, 3, 3, 3, 3, 3, 3, 3}));
}

TEST_F(LinkEngineTest, UnpluggedAdapterRecoversWhenPluggedAgain) {
    const fs::path link = dir_ / "usb0";
    fs::create_symlink(module_.Path(), link);
    ::setenv("PELKORA_COM1", link.c_str(), 1);
    NewEngine();  // the port map is read when the engine is made
    module_.Serve(Replies("0505050505050505", "0606060606060606"));
    Run(MODE_MONITOR);
    ASSERT_TRUE(module_.WaitForBytes(4));
    module_.Unplug();
    // The failure closes the port; the vanished device then cannot be opened.
    ASSERT_TRUE(WaitForStatus("Error opening COM1 port (1-2)"));
    const auto seen = Seen();
    const bool sawGone =
        std::find(seen.begin(), seen.end(), "Error writing to target (5)") != seen.end() ||
        std::find(seen.begin(), seen.end(), "Error reading from target (5)") != seen.end();
    EXPECT_TRUE(sawGone);

    PtyModule replugged;
    ASSERT_TRUE(replugged.Ok());
    replugged.Serve(Replies("0707070707070707", "0808080808080808"));
    fs::remove(link);
    fs::create_symlink(replugged.Path(), link);
    const std::size_t before = Seen().size();
    ASSERT_TRUE(replugged.WaitForBytes(4));
    ASSERT_TRUE(WaitForStatus("Monitoring target values", before));
    StopEngine();
    std::lock_guard lock(State().hMutex);
    EXPECT_EQ(State().wInputs, (NetInputs{7, 7, 7, 7, 7, 7, 7, 7}));
}

class LinkEngineRepliesTest : public LinkEngineTest {
public:
    // Runs Monitor on `module` until `passes` passes ended (or 30 s passed).
    std::vector<PassReport> MonitorPasses(PtyModule& module, PtyModule::Responder responder,
                                          std::size_t passes, bool confirmInputs = false) {
        return Passes(MODE_MONITOR, module, std::move(responder), passes, confirmInputs);
    }
    std::vector<PassReport> Passes(EngineMode mode, PtyModule& module,
                                   PtyModule::Responder responder, std::size_t passes,
                                   bool confirmInputs = false, std::chrono::seconds limit = 30s) {
        ::setenv("PELKORA_COM1", module.Path().c_str(), 1);
        NewEngine();
        engine().SetConfirmInputs(confirmInputs);
        module.Serve(std::move(responder));
        const std::size_t from = Reports().size();
        Run(mode);
        const auto deadline = Clock::now() + limit;
        std::vector<PassReport> passed;
        while (Clock::now() < deadline && passed.size() < passes) {
            std::this_thread::sleep_for(10ms);
            passed.clear();
            const auto reports = Reports();
            for (std::size_t k = from; k < reports.size() && passed.size() < passes; ++k) {
                if (reports[k].kind == PassReport::Kind::Pass) passed.push_back(reports[k]);
            }
        }
        StopEngine();  // the pass it cuts short is not among those returned
        return passed;
    }
};

// A reply that comes in part, then the rest after the time-out: the rest is
// discarded, never read as the start of the next reply.
TEST_F(LinkEngineRepliesTest, LateTailsNeverShiftAGoodPass) {
    const std::string toI = "0102030405060708";
    const std::string toO = "A0B0C0D0E0F0F1F2";
    const struct {
        const char* name;
        std::function<std::string(PtyModule&, char, int)> respond;  // (module, byte, nth "O")
    } cases[] = {
        {"250 ms stall after the 8th byte of every other O reply",
         [&](PtyModule& m, char c, int nthO) -> std::string {
             if (c == 'I') return toI;
             if (c != 'O') return {};
             if (nthO % 2 == 1) return toO;
             m.Send(toO.substr(0, 8));
             std::this_thread::sleep_for(250ms);
             return toO.substr(8);
         }},
        {"every byte 90 ms apart",
         [&](PtyModule& m, char c, int) -> std::string {
             if (c != 'I' && c != 'O') return {};
             for (char b : c == 'I' ? toI : toO) {
                 std::this_thread::sleep_for(90ms);
                 m.Send(std::string(1, b));
             }
             return {};
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PtyModule module;
        ASSERT_TRUE(module.Ok());
        int outputs = 0;
        const auto passes = MonitorPasses(
            module, [&](char b) { return c.respond(module, b, b == 'O' ? outputs++ : outputs); },
            4);
        ASSERT_GE(passes.size(), 4u);
        for (const PassReport& r : passes) {
            if (!r.ok) continue;
            EXPECT_EQ(r.inputs, (NetInputs{1, 2, 3, 4, 5, 6, 7, 8}));
            EXPECT_EQ(r.outputs, (NetOutputs{0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0, 0xF1, 0xF2}));
        }
    }
}

// Replies that come after their read gave up, now and then or often, up to 5 s
// late: such a reply is never stored as the answer to a later command, in Monitor
// (inputs confirmed, as validate reads them) and in Emulator. A reply the module
// sends after the read's 1700 ms carries 0xEE in its first value, so a pass that
// stored one shows it; the other replies are 01..08 for "I" and A0..F2 for "O".
struct LateReplyCase {
    const char* id;  // the test's name
    const char* name;
    EngineMode mode;
    int (*delayMs)(int n);  // of the n-th reply (0-based)
    std::size_t passes;
    std::size_t good;     // at least this many of them go well
    bool confirm = true;  // Monitor: read the inputs again after "O", as validate does
};

// Each case waits real protocol time (seconds of late replies), so each is a test
// of its own and they run side by side.
const LateReplyCase kLateReplyCases[] = {
    {"MonitorAsTheWindowRunsIt",
     "monitor as the window runs it: 2.2 s late one reply in seven, the next 0.3 s late",
     MODE_MONITOR, [](int n) { return n % 7 == 4   ? 2200
                                      : n % 7 == 5 ? 300
                                                   : 0; }, 8, 4, false},
    {"MonitorOneInTen", "monitor: 2.2 s late one reply in ten, the next 0.3 s late", MODE_MONITOR,
     [](int n) { return n % 10 == 4   ? 2200
                        : n % 10 == 5 ? 300
                                      : 0; }, 8, 4},
    {"MonitorFortyPercent", "monitor: 40 % of replies 1.6 to 2.6 s late", MODE_MONITOR,
     [](int n) { return n % 5 == 1 || n % 5 == 3 ? 1600 + (n * 3 % 6) * 200 : 0; }, 8, 1},
    {"MonitorFiveSecondsLate", "monitor: 5 s late now and then", MODE_MONITOR,
     [](int n) { return n % 7 == 3 ? 5000 : 0; }, 6, 2},
    // Every pass may hold a late reply: none need go well, none may be wrong.
    {"MonitorThreeToFiveSecondsOften", "monitor: 3 to 5 s late often", MODE_MONITOR,
     [](int n) { return n % 4 == 1 ? 3000 + (n % 3) * 1000 : 0; }, 4, 0},
    {"EmulatorOneInFive", "emulator: 2.2 s late one reply in five, the next 0.3 s late",
     MODE_EMULATOR, [](int n) { return n % 5 == 2   ? 2200
                                       : n % 5 == 3 ? 300
                                                    : 0; }, 10, 5},
    {"EmulatorFortyPercent", "emulator: 40 % of replies 1.6 to 2.6 s late", MODE_EMULATOR,
     [](int n) { return n % 5 == 1 || n % 5 == 3 ? 1600 + (n * 3 % 6) * 200 : 0; }, 10, 5},
};

void PrintTo(const LateReplyCase& c, std::ostream* os) {
    *os << c.name;
}

class LateRepliesTest : public LinkEngineRepliesTest,
                        public ::testing::WithParamInterface<LateReplyCase> {};

TEST_P(LateRepliesTest, AreNeverStored) {
    const LateReplyCase& c = GetParam();
    SCOPED_TRACE(c.name);
    PtyModule module;
    ASSERT_TRUE(module.Ok());
    std::atomic<int> replies{0};  // counted on the module's thread, read here
    const auto start = Clock::now();
    const auto passes = Passes(
        c.mode, module,
        [&](char b) -> std::string {
            if (b != 'I' && b != 'O') return {};
            const int delay = c.delayMs(replies++);
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            const std::string late = delay > 1700 ? "EE" : "";
            return b == 'I' ? (late.empty() ? "01" : late) + "02030405060708"
                            : (late.empty() ? "A0" : late) + "B0C0D0E0F0F1F2";
        },
        c.passes, c.mode == MODE_MONITOR && c.confirm, 60s);
    ASSERT_GE(passes.size(), c.passes);
    std::size_t good = 0;
    for (const PassReport& r : passes) {
        if (!r.ok) continue;
        ++good;
        EXPECT_EQ(r.inputs, (NetInputs{1, 2, 3, 4, 5, 6, 7, 8}));
        if (c.mode == MODE_MONITOR) {
            EXPECT_EQ(r.outputs, (NetOutputs{0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0, 0xF1, 0xF2}));
        }
    }
    EXPECT_GE(good, c.good);
    std::printf("%s: %zu of %zu passes good, %d replies, %lld ms\n", c.name, good, passes.size(),
                replies.load(), Ms(Clock::now() - start));
}

INSTANTIATE_TEST_SUITE_P(LinkEngineRepliesTest, LateRepliesTest,
                         ::testing::ValuesIn(kLateReplyCases),
                         [](const ::testing::TestParamInfo<LateReplyCase>& info) {
                             return std::string(info.param.id);
                         });

// Replies that are not 16 hex digits alone fail their pass and store nothing.
TEST_F(LinkEngineRepliesTest, GarbledRepliesFailTheirPassAndStoreNothing) {
    const std::string good = "0102030405060708";
    const std::string bad = "Error reading from target (" + std::to_string(kBadReplyError) + ")";
    const std::string overrun =
        "Error reading from target (" + std::to_string(kReplyOverrunError) + ")";
    const struct {
        const char* name;
        std::string reply;  // to "I" and to "O"; empty: a module that streams
        std::string status;
    } cases[] = {
        {"letters beyond F", "01020304050607ZZ", bad},
        {"a minus sign", "-102030405060708", bad},
        {"blanks", std::string(16, ' '), bad},
        {"NUL bytes", std::string(16, '\0'), bad},
        {"a stray digit before the reply", "7" + good, overrun},
        {"a byte too many", good + "X", overrun},
        {"the command echoed", "", bad},
        {"hex digits streamed whatever is sent", "", overrun},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PtyModule module;
        ASSERT_TRUE(module.Ok());
        const bool echo = std::string(c.name) == "the command echoed";
        const bool stream = c.reply.empty() && !echo;
        std::atomic<bool> streaming = stream;
        std::thread streamer([&] {
            while (streaming) {
                module.Send("0123456789abcdef");
                std::this_thread::sleep_for(5ms);
            }
        });
        const auto passes = MonitorPasses(
            module,
            [&](char b) -> std::string {
                if (b != 'I' && b != 'O') return {};
                return echo ? b + good : c.reply;
            },
            2);
        streaming = false;
        streamer.join();
        ASSERT_GE(passes.size(), 2u);
        for (const PassReport& r : passes) {
            EXPECT_FALSE(r.ok);
            EXPECT_STREQ(r.status.text, c.status.c_str());
        }
        std::lock_guard lock(State().hMutex);
        EXPECT_EQ(State().wInputs, NetInputs{});
        EXPECT_EQ(State().wOutputs, NetOutputs{});
    }
}

TEST_F(LinkEngineRepliesTest, ConfirmedInputsTellWhetherTheyHeldAroundTheOutputs) {
    PtyModule module;
    ASSERT_TRUE(module.Ok());
    // The inputs change after the 4th "I": the second pass sees them move.
    int inputsAsked = 0;
    const auto passes = MonitorPasses(
        module,
        [&](char b) -> std::string {
            if (b == 'O') return "0000000000000000";
            if (b != 'I') return {};
            return inputsAsked++ < 3 ? "0101010101010101" : "0202020202020202";
        },
        3, true);
    ASSERT_GE(passes.size(), 3u);
    EXPECT_EQ(module.Bytes().substr(0, 9), "RIOIRIOIR");
    const bool moved[] = {false, true, false};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_TRUE(passes[k].ok) << k;
        EXPECT_EQ(passes[k].inputsMoved, moved[k]) << k;
    }
    EXPECT_EQ(passes[1].inputs, (NetInputs{1, 1, 1, 1, 1, 1, 1, 1}));  // the first reading
}

TEST_F(LinkEngineTest, BadRepliesNeverHangTheLoop) {
    const struct {
        const char* name;
        std::string reply;
    } cases[] = {
        {"garbage", "GGGGGGGGGGGGGGGG"},
        {"binary", std::string("\0\xFF\x80\n\r\x11\x13\x03", 8) + std::string(8, '\0')},
        {"too many", "0102030405060708090A0B0C"},
        {"too few", "01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PtyModule module;
        ASSERT_TRUE(module.Ok());
        ::setenv("PELKORA_COM1", module.Path().c_str(), 1);
        module.Serve(Replies(c.reply, c.reply));
        NewEngine();
        SetMode(MODE_MONITOR);
        ASSERT_TRUE(StartEngine());
        // Passes keep coming: at least two R commands, whatever the replies.
        const auto deadline = Clock::now() + 5s;
        std::string bytes;
        while (Clock::now() < deadline && std::count(bytes.begin(), bytes.end(), 'R') < 2) {
            std::this_thread::sleep_for(5ms);
            bytes = module.Bytes();
        }
        EXPECT_GE(std::count(bytes.begin(), bytes.end(), 'R'), 2);
        const auto start = Clock::now();
        StopEngine();
        EXPECT_LT(Ms(Clock::now() - start), 500);
    }
}

}  // namespace

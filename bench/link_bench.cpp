// Cost of the link's own work next to the wire: at 9600 baud a 16-byte reply
// takes about 17 ms, so an exchange through the termios layer should cost
// microseconds.
//   build/bin/pelkora_bench --benchmark_filter=Link

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>

#include "engine/serial_device_posix.h"
#include "engine/stop_signal.h"
#include "engine/wire_codec.h"

namespace {

void BM_LinkDecodeReply(benchmark::State& state) {
    const char reply[] = "00ff1001807F0AC8";
    WireValues values{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeReply(reply, values));
        benchmark::DoNotOptimize(values);
    }
}
BENCHMARK(BM_LinkDecodeReply);

void BM_LinkFormatOutputFrame(benchmark::State& state) {
    NetOutputs out{0, 255, 16, 1, 128, 127, 10, 200};
    for (auto _ : state) {
        out[0] = static_cast<std::uint16_t>((out[0] + 1) & 0xFF);
        benchmark::DoNotOptimize(FormatOutputFrame(out));
    }
}
BENCHMARK(BM_LinkFormatOutputFrame);

// "I" and its 16-byte reply through a pseudo-terminal, a thread playing the module.
void BM_LinkInputsExchange(benchmark::State& state) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[256];
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    termios tio{};
    ::tcgetattr(master, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(master, TCSANOW, &tio);
    const int quit = ::eventfd(0, EFD_CLOEXEC);
    std::thread module([master, quit] {
        for (;;) {
            pollfd fds[2] = {{master, POLLIN, 0}, {quit, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN)) return;
            char b[64];
            const ssize_t n = ::read(master, b, sizeof b);
            for (ssize_t i = 0; i < n; ++i) {
                if (b[i] != 'I') continue;
                [[maybe_unused]] const ssize_t w = ::write(master, "00FF1001807F0AC8", 16);
            }
            if (n <= 0) ::usleep(1000);
        }
    });
    TermiosOpener opener;
    const StopSignal stop;
    SerialOpenResult port = opener.Open(name, stop);
    if (!port.device) {
        state.SkipWithError("cannot open the pseudo-terminal");
    } else {
        char reply[16];
        for (auto _ : state) {
            if (port.device->Write("I", 1).count != 1 ||
                port.device->Read(reply, sizeof reply).count != sizeof reply) {
                state.SkipWithError("exchange failed");
                break;
            }
        }
    }
    port.device.reset();
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(quit, &one, sizeof one);
    module.join();
    ::close(quit);
    ::close(master);
}
BENCHMARK(BM_LinkInputsExchange)->Unit(benchmark::kMicrosecond);

}  // namespace

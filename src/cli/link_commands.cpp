// pelkora-cli monitor / emulate: the engine's mode loop on a given device, one
// line per pass. The worker reports each pass through the notifier; the main
// thread prints, and waits for SIGINT/SIGTERM.

#include <signal.h>

#include <cstring>
#include <ctime>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>

#include "cli/link_commands.h"
#include "engine/engine.h"
#include "engine/serial_link.h"
#include "engine/weight_loader.h"

namespace {

struct LinkOptions {
    std::string port;
    std::string netFile;
    int passes = 0;  // 0: until a signal
};

struct PassReport {
    bool ok = false;
    std::string status;
    NetInputs inputs{};
    NetOutputs outputs{};
};

// Filled on the worker by the notifier, emptied by the main thread.
class PassQueue {
public:
    explicit PassQueue(const char* stepText) : stepText_(stepText) {}

    // Worker thread. The notifier is never called with hMutex held.
    void OnNotify() {
        PassReport report;
        {
            std::lock_guard lock(g_State.hMutex);
            report.status = g_State.szStatus;
            report.inputs = g_State.wInputs;
            report.outputs = g_State.wOutputs;
        }
        // The start and the mode announcement are not the end of a pass.
        if (report.status == kStatusWelcome || report.status == kStatusNewMode) return;
        report.ok = report.status == stepText_;
        std::lock_guard lock(mutex_);  // guards reports_
        reports_.push_back(std::move(report));
    }

    std::deque<PassReport> Take() {
        std::lock_guard lock(mutex_);
        std::deque<PassReport> taken;
        taken.swap(reports_);
        return taken;
    }

private:
    const std::string stepText_;
    std::mutex mutex_;
    std::deque<PassReport> reports_;  // guarded by mutex_
};

void PrintPass(const PassReport& r) {
    std::string line;
    for (std::uint16_t v : r.inputs) line += std::to_string(v) + '\t';
    for (std::size_t i = 0; i < r.outputs.size(); ++i) {
        line += std::to_string(r.outputs[i]);
        line += i + 1 < r.outputs.size() ? '\t' : '\n';
    }
    std::cout << line << std::flush;
}

int RunLinkMode(EngineMode mode, const LinkOptions& options) {
    // Blocked before the worker exists, so it inherits the mask and only the main
    // thread ever takes the signals.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto queue =
        std::make_shared<PassQueue>(mode == MODE_MONITOR ? kStatusMonitor : kStatusEmulator);
    InitSharedState([queue] { queue->OnNotify(); });
    if (!options.netFile.empty()) {
        const FileResult loaded = LoadAsciiNetFile(options.netFile);
        if (loaded != FileResult::Ok) {
            std::cerr << FileResultText(loaded) << '\n';
            return kExitFailure;
        }
    }
    SetTargetDeviceOverride(options.port);
    {
        std::lock_guard lock(g_State.hMutex);
        g_State.nMode = mode;
    }
    if (!StartEngine()) {
        std::cerr << "pelkora-cli: the engine is already running\n";
        return kExitFailure;
    }

    int passes = 0;
    bool anyFailed = false;
    bool signalled = false;
    while (!signalled && (options.passes == 0 || passes < options.passes)) {
        const timespec wait{0, 20'000'000};
        if (::sigtimedwait(&signals, nullptr, &wait) > 0) signalled = true;
        for (const PassReport& r : queue->Take()) {
            if (options.passes != 0 && passes >= options.passes) break;
            ++passes;
            if (r.ok) {
                PrintPass(r);
            } else {
                anyFailed = true;
                std::cerr << r.status << '\n';
            }
        }
    }
    StopEngine();  // interrupts any wait; the worker closes the port
    SetTargetDeviceOverride("");
    if (signalled) return kExitOk;
    return anyFailed ? kExitFailure : kExitOk;
}

CliCommand AddModeCommand(CLI::App& root, EngineMode mode) {
    auto options = std::make_shared<LinkOptions>();
    const bool emulate = mode == MODE_EMULATOR;
    CLI::App* sub = root.add_subcommand(
        emulate ? "emulate" : "monitor",
        emulate ? "Run the Emulator mode on a device: read the module's inputs, send it the "
                  "outputs computed here; one line of 8 inputs and 8 outputs per pass"
                : "Run the Monitor mode on a device: read the module's inputs and outputs; "
                  "one line of 8 inputs and 8 outputs per pass");
    sub->add_option("--port", options->port,
                    "Serial device (e.g. /dev/ttyUSB0), named in the texts")
        ->required();
    if (emulate) {
        sub->add_option("--net", options->netFile, "ASCII net file (default: all-zero network)");
    }
    sub->add_option("--passes", options->passes,
                    "Stop after N passes, failed ones included (default: until SIGINT/SIGTERM)")
        ->check(CLI::NonNegativeNumber);
    return {sub, [options, mode] { return RunLinkMode(mode, *options); }};
}

}  // namespace

std::vector<CliCommand> AddLinkCommands(CLI::App& root) {
    return {AddModeCommand(root, MODE_MONITOR), AddModeCommand(root, MODE_EMULATOR),
            AddTargetCommand(root)};
}

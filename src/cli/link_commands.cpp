// pelkora-cli monitor / emulate: the engine's mode loop on a given device, one
// line per pass. The worker reports each pass through the notifier; the main
// thread prints, and waits for SIGINT/SIGTERM/SIGHUP.

#include <chrono>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>

#include "cli/link_commands.h"
#include "engine/engine.h"
#include "posix/posix_io.h"

namespace {

struct LinkOptions {
    std::string port;
    std::string netFile;
    int passes = 0;  // 0: until a signal
};

// Filled on the worker by the notifier, emptied by the main thread.
class PassQueue {
public:
    // Worker thread; the engine never calls the notifier with hMutex held.
    void OnReport(const PassReport& report) {
        // The start and the mode announcement are not the end of a pass.
        if (report.kind != PassReport::Kind::Pass) return;
        std::lock_guard lock(mutex_);
        reports_.push_back(report);
    }

    std::deque<PassReport> Take() {
        std::lock_guard lock(mutex_);
        std::deque<PassReport> taken;
        taken.swap(reports_);
        return taken;
    }

private:
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
    // Before the worker exists, so it inherits the mask and only the main thread
    // ever takes the signals.
    TerminationSignals signals;

    Engine engine(nullptr, PortMap::SingleDevice(options.port));
    auto queue = std::make_shared<PassQueue>();
    engine.SetNotifier([queue](const PassReport& r) { queue->OnReport(r); });
    if (!options.netFile.empty()) {
        const LoadResult loaded = engine.LoadAsciiNetFile(options.netFile);
        if (loaded != LoadResult::Ok) {
            std::cerr << LoadResultText(loaded) << '\n';
            return kExitFailure;
        }
    }
    {
        std::lock_guard lock(engine.State().hMutex);
        engine.State().nMode = mode;
    }
    if (!engine.Start()) {
        std::cerr << "pelkora-cli: the engine could not start\n";
        return kExitFailure;
    }

    int passes = 0;
    bool anyFailed = false;
    bool signalled = false;
    while (!signalled && (options.passes == 0 || passes < options.passes)) {
        signalled = signals.Wait(std::chrono::milliseconds(20));
        for (const PassReport& r : queue->Take()) {
            if (options.passes != 0 && passes >= options.passes) break;
            ++passes;
            if (r.ok) {
                PrintPass(r);
            } else {
                anyFailed = true;
                std::cerr << r.status.text << '\n';
            }
        }
    }
    engine.Stop();  // interrupts any wait; the worker's link closes the port
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

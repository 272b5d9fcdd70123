// pelkora-cli monitor / emulate / validate: the engine's mode loop on a given
// device, one line per pass. The worker reports each pass through the notifier;
// the main thread prints, and waits for SIGINT/SIGTERM/SIGHUP.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>

#include "cli/link_commands.h"
#include "cli/option_checks.h"
#include "engine/engine.h"
#include "files/net_file.h"
#include "files/pass_log.h"
#include "network/evaluators.h"
#include "os/io.h"

namespace {

enum class LinkCommand { Monitor, Emulate, Validate };

struct LinkOptions {
    std::string port;
    std::string netFile;
    int passes = 0;  // 0: until a signal
    int tolerance = 0;
    bool timestamps = false;
};

struct StampedReport {
    PassReport report;
    PassClock::Stamp stamp;
};

// Filled on the worker by the notifier, emptied by the main thread. Passes are
// stamped as the worker reports them, not when the main thread gets to them.
class PassQueue {
public:
    explicit PassQueue(bool stamp) : stamp_(stamp) {}

    // Worker thread; the engine never calls the notifier with hMutex held.
    void OnReport(const PassReport& report) {
        // The start and the mode announcement are not the end of a pass.
        if (report.kind != PassReport::Kind::Pass) return;
        StampedReport entry{report, {}};
        if (stamp_) entry.stamp = clock_.Now();  // clock_: worker only
        std::lock_guard lock(mutex_);
        reports_.push_back(std::move(entry));
    }

    std::deque<StampedReport> Take() {
        std::lock_guard lock(mutex_);
        std::deque<StampedReport> taken;
        taken.swap(reports_);
        return taken;
    }

private:
    const bool stamp_;
    PassClock clock_;
    std::mutex mutex_;
    std::deque<StampedReport> reports_;  // guarded by mutex_
};

template <typename Values>
void AppendValues(std::string& line, const Values& values) {
    for (auto v : values) {
        if (!line.empty()) line += '\t';
        line += std::to_string(v);
    }
}

// What validate keeps per output.
struct OutputTally {
    long compared = 0;
    long mismatches = 0;
    int largest = 0;  // largest |module - host|
    long long sum = 0;
};

// Compares each good pass's module outputs with the host's integer evaluation of
// the same inputs.
class Validation {
public:
    Validation(const ModuleWeights& weights, int tolerance)
        : weights_(weights), tolerance_(tolerance) {}

    // The columns after in/out: host1..8 and diff1..8.
    void Compare(const PassReport& r, std::string& line) {
        const NetOutputs host = EvaluateInt(r.inputs, weights_);
        std::array<int, NET_OUTPUT_COUNT> diff{};
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            diff[m] = int{r.outputs[m]} - int{host[m]};
            OutputTally& t = tally_[m];
            ++t.compared;
            t.sum += diff[m];
            const int magnitude = std::abs(diff[m]);
            if (magnitude > t.largest) t.largest = magnitude;
            if (magnitude > tolerance_) ++t.mismatches;
        }
        AppendValues(line, host);
        AppendValues(line, diff);
    }

    [[nodiscard]] bool Exceeded() const {
        for (const OutputTally& t : tally_) {
            if (t.mismatches > 0) return true;
        }
        return false;
    }

    void PrintSummary(std::ostream& out, int failedPasses) const {
        out << "output\tcompared\tmismatches\tmax_abs_diff\tmean_diff\n";
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            const OutputTally& t = tally_[m];
            char mean[32];
            std::snprintf(mean, sizeof mean, "%+.3f",
                          t.compared ? static_cast<double>(t.sum) / t.compared : 0.0);
            out << "out" << m + 1 << '\t' << t.compared << '\t' << t.mismatches << '\t' << t.largest
                << '\t' << mean << '\n';
        }
        const long compared = tally_[0].compared;
        if (compared == 0) {
            out << "no pass to compare (" << failedPasses << " failed)\n";
        } else if (Exceeded()) {
            out << "MISMATCH: the module differs from the host by more than " << tolerance_
                << " LSB (" << compared << " passes compared, " << failedPasses << " failed)\n";
        } else {
            out << "MATCH: the module computes what the host computes within " << tolerance_
                << " LSB (" << compared << " passes compared, " << failedPasses << " failed)\n";
        }
    }

private:
    ModuleWeights weights_;
    int tolerance_;
    std::array<OutputTally, NET_OUTPUT_COUNT> tally_{};
};

std::string Header(LinkCommand command, bool timestamps) {
    std::string line = timestamps ? "time\tt_ms" : "";
    auto names = [&](const char* prefix, int count) {
        for (int k = 1; k <= count; ++k) {
            if (!line.empty()) line += '\t';
            line += prefix + std::to_string(k);
        }
    };
    names("in", NET_INPUT_COUNT);
    names("out", NET_OUTPUT_COUNT);
    if (command == LinkCommand::Validate) {
        names("host", NET_OUTPUT_COUNT);
        names("diff", NET_OUTPUT_COUNT);
    }
    return line;
}

int RunLinkMode(LinkCommand command, const LinkOptions& options) {
    // Before the worker exists, so it inherits the mask and only the main thread
    // ever takes the signals.
    TerminationSignals signals;

    Engine engine(nullptr, PortMap::SingleDevice(options.port));
    std::unique_ptr<Validation> validation;
    if (command == LinkCommand::Validate) {
        // The window's own loader: exactly its reading rules and texts.
        FileWeights weights{};
        const FileResult loaded = ReadNetFile(options.netFile, weights);
        if (loaded != FileResult::Ok) {
            std::cerr << FileResultText(loaded) << '\n';
            return kExitUsage;
        }
        validation = std::make_unique<Validation>(DeriveModuleWeights(weights), options.tolerance);
    } else if (!options.netFile.empty()) {
        FileWeights weights{};
        const FileResult loaded = ReadNetFile(options.netFile, weights);
        if (loaded != FileResult::Ok) {
            std::cerr << FileResultText(loaded) << '\n';
            return kExitFailure;
        }
        engine.LoadWeights(weights);
    }
    auto queue = std::make_shared<PassQueue>(options.timestamps);
    engine.SetNotifier([queue](const PassReport& r) { queue->OnReport(r); });
    {
        std::lock_guard lock(engine.State().hMutex);
        engine.State().nMode = command == LinkCommand::Emulate ? MODE_EMULATOR : MODE_MONITOR;
    }
    if (!engine.Start()) {
        std::cerr << "pelkora-cli: the engine could not start\n";
        return kExitFailure;
    }
    if (options.timestamps || validation) std::cout << Header(command, options.timestamps) << '\n';

    int passes = 0;
    int failed = 0;
    bool signalled = false;
    while (!signalled && (options.passes == 0 || passes < options.passes)) {
        signalled = signals.Wait(std::chrono::milliseconds(20));
        std::string out;
        for (const StampedReport& entry : queue->Take()) {
            if (options.passes != 0 && passes >= options.passes) break;
            ++passes;
            const PassReport& r = entry.report;
            if (!r.ok) {
                ++failed;
                std::cout << out << std::flush;
                out.clear();
                std::cerr << r.status.text << '\n';
                continue;
            }
            std::string line;
            if (options.timestamps) {
                line = entry.stamp.time + '\t' + std::to_string(entry.stamp.ms);
            }
            AppendValues(line, r.inputs);
            AppendValues(line, r.outputs);
            if (validation) validation->Compare(r, line);
            out += line;
            out += '\n';
        }
        if (!out.empty()) std::cout << out << std::flush;
    }
    engine.Stop();  // interrupts any wait; the worker's link closes the port
    if (validation) {
        validation->PrintSummary(std::cerr, failed);
        if (validation->Exceeded()) return kExitMismatch;
        return failed > 0 ? kExitFailure : kExitOk;
    }
    if (signalled) return kExitOk;
    return failed > 0 ? kExitFailure : kExitOk;
}

CliCommand AddModeCommand(CLI::App& root, LinkCommand command) {
    auto options = std::make_shared<LinkOptions>();
    static constexpr const char* kNames[] = {"monitor", "emulate", "validate"};
    static constexpr const char* kHelp[] = {
        "Run the Monitor mode on a device: read the module's inputs and outputs; one line of 8 "
        "inputs and 8 outputs per pass",
        "Run the Emulator mode on a device: read the module's inputs, send it the outputs "
        "computed here; one line of 8 inputs and 8 outputs per pass",
        "Compare the module with the host: Monitor passes, and per pass the module's outputs, "
        "the host's integer evaluation of the same inputs and their difference in LSB; a "
        "summary on stderr. Exit 3 when an output differs by more than the tolerance"};
    const int index = static_cast<int>(command);
    CLI::App* sub = root.add_subcommand(kNames[index], kHelp[index]);
    sub->add_option("--port", options->port,
                    "Serial device (e.g. /dev/ttyUSB0), named in the texts")
        ->check(NonEmpty)
        ->required();
    if (command == LinkCommand::Emulate) {
        sub->add_option("--net", options->netFile, "ASCII net file (default: all-zero network)")
            ->check(NonEmpty);
    } else if (command == LinkCommand::Validate) {
        sub->add_option("--net", options->netFile,
                        "ASCII net file whose module weights the host evaluates")
            ->required()
            ->check(NonEmpty);
        sub->add_option("--tolerance", options->tolerance,
                        "Largest |module - host| still counted as a match, in LSB")
            ->check(CLI::Range(0, 255))
            ->capture_default_str();
    }
    sub->add_option("--passes", options->passes,
                    "Stop after N passes, failed ones included (default: until SIGINT/SIGTERM)")
        ->check(NonEmpty)
        ->check(CLI::NonNegativeNumber);
    sub->add_flag("--timestamps", options->timestamps,
                  "Start each line with the local time (ISO 8601, ms, UTC offset) and the ms "
                  "since the first pass; adds a header line");
    return {sub, [options, command] { return RunLinkMode(command, *options); }};
}

}  // namespace

std::vector<CliCommand> AddLinkCommands(CLI::App& root) {
    return {
        AddModeCommand(root, LinkCommand::Monitor), AddModeCommand(root, LinkCommand::Emulate),
            AddModeCommand(root, LinkCommand::Validate),
#if PELKORA_HAVE_TARGET_COMMAND
            AddTargetCommand(root),
#endif
    };
}

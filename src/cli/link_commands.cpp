// pelkora-cli monitor / emulate / validate: the engine's mode loop on a given
// device, one line per pass. The worker reports each pass through the notifier;
// the main thread formats the lines and waits for SIGINT/SIGTERM/SIGHUP; a writer
// thread of OrderedOutput writes them, so a stalled reader never holds the signals.

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "cli/ci_options.h"
#include "cli/command_frame.h"
#include "cli/failure_lines.h"
#include "cli/link_commands.h"
#include "cli/option_checks.h"
#include "cli/ordered_output.h"
#include "engine/engine.h"
#include "engine/net_port.h"
#include "files/pass_log.h"
#include "network/evaluators.h"
#include "network/pass_verdict.h"
#include "os/io.h"

namespace {

enum class LinkCommand { Monitor, Emulate, Validate };

struct LinkOptions {
    std::string port;
    std::string netFile;
    int passes = 0;  // 0: until a signal
    int tolerance = 0;
    bool timestamps = false;
    CiOptions ci;  // validate: --junit, --json
};

struct StampedReport {
    PassReport report;
    PassClock::Stamp stamp;
};

// Filled on the worker by the notifier, emptied by the main thread. Passes are
// stamped as the worker reports them, not when the main thread gets to them. It
// holds kMaxQueued passes: when the output falls behind, the worker waits in the
// notifier, so the passes keep the reader's pace and nothing is lost or piles up.
class PassQueue {
public:
    static constexpr std::size_t kMaxQueued = 256;

    explicit PassQueue(bool stamp) : stamp_(stamp) {}

    // Worker thread; the engine never calls the notifier with hMutex held.
    void OnReport(const PassReport& report) {
        // The start and the mode announcement are not the end of a pass.
        if (report.kind != PassReport::Kind::Pass) return;
        StampedReport entry{report, {}};
        if (stamp_) entry.stamp = clock_.Now();  // clock_: worker only
        std::unique_lock lock(mutex_);
        room_.wait(lock, [this] { return closed_ || reports_.size() < kMaxQueued; });
        if (closed_) return;
        reports_.push_back(std::move(entry));
    }

    std::deque<StampedReport> Take() {
        std::deque<StampedReport> taken;
        {
            std::lock_guard lock(mutex_);
            taken.swap(reports_);
        }
        room_.notify_all();
        return taken;
    }

    // Lets a waiting worker go (before the engine is stopped); later passes are dropped.
    void Close() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        room_.notify_all();
    }

private:
    const bool stamp_;
    PassClock clock_;
    std::mutex mutex_;
    std::condition_variable room_;
    std::deque<StampedReport> reports_;  // guarded by mutex_
    bool closed_ = false;                // guarded by mutex_
};

// How long output queued at a signal may take to reach a reader that stalls: the
// command ends within a second whatever stdout does.
constexpr auto kDrainAfterSignal = std::chrono::milliseconds(500);

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

    // Judges a good pass by the two readings of its inputs (JudgePass). False for a
    // pass that is no verdict on the module: it is counted apart. Otherwise adds the
    // columns after in/out: host1..8 and diff1..8 (the host's value nearest to the
    // module's when the readings differ).
    bool Compare(const PassReport& r, std::string& line) {
        const NetInputs readings[2] = {r.inputs, r.inputsAfter};
        const PassVerdict v = JudgePass(readings, r.outputs, weights_, tolerance_);
        if (!v.decided) {
            ++moved_;
            return false;
        }
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            OutputTally& t = tally_[m];
            ++t.compared;
            t.sum += v.diff[m];
            const int magnitude = std::abs(v.diff[m]);
            if (magnitude > t.largest) t.largest = magnitude;
            if (v.differs[m]) ++t.mismatches;
        }
        AppendValues(line, v.host);
        AppendValues(line, v.diff);
        return true;
    }

    [[nodiscard]] long Compared() const { return tally_[0].compared; }

    [[nodiscard]] bool Exceeded() const {
        for (const OutputTally& t : tally_) {
            if (t.mismatches > 0) return true;
        }
        return false;
    }

    // Passes whose inputs moved so far between the two "I" replies around "O" that
    // they are no verdict on the module.
    [[nodiscard]] long Moved() const { return moved_; }

    // The per-output figures of the JUnit and JSON reports.
    [[nodiscard]] ValidateFigures Figures() const {
        ValidateFigures figures;
        figures.tolerance = tolerance_;
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            const OutputTally& t = tally_[m];
            figures.outputs[m] = {t.compared, t.mismatches, t.largest,
                                  t.compared ? static_cast<double>(t.sum) / t.compared : 0.0};
        }
        return figures;
    }

    void PrintSummary(std::ostream& out, long failedPasses) const {
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
        const std::string others = std::to_string(failedPasses) + " failed, " +
                                   std::to_string(moved_) + " inputs moved)\n";
        if (compared == 0) {
            out << "NO VERDICT: no pass could be compared with the host (" << others;
        } else if (Exceeded()) {
            out << "MISMATCH: the module differs from the host by more than " << tolerance_
                << " LSB (" << compared << " passes compared, " << others;
        } else {
            out << "MATCH: the module computes what the host computes within " << tolerance_
                << " LSB (" << compared << " passes compared, " << others;
        }
    }

private:
    ModuleWeights weights_;
    int tolerance_;
    std::array<OutputTally, NET_OUTPUT_COUNT> tally_{};
    long moved_ = 0;
};

std::string Header(LinkCommand command, bool timestamps) {
    std::string line = PassValuesHeader(timestamps);
    auto names = [&](const char* prefix, int count) {
        for (int k = 1; k <= count; ++k) line += '\t' + (prefix + std::to_string(k));
    };
    if (command == LinkCommand::Validate) {
        names("host", NET_OUTPUT_COUNT);
        names("diff", NET_OUTPUT_COUNT);
    }
    return line;
}

constexpr const char* kNames[] = {"monitor", "emulate", "validate"};

// A device path or a network port name; a bad one is a usage error that lists the
// accepted forms.
const CLI::Validator kPortName([](std::string& value) { return PortNameProblem(value); }, "PORT",
                               "PORT");

int RunLinkMode(LinkCommand command, const LinkOptions& options) {
    const std::string startTime = JUnitTimestamp(std::chrono::system_clock::now());
    const auto started = std::chrono::steady_clock::now();
    // Before the worker exists, so it inherits the mask and only the main thread
    // ever takes the signals.
    TerminationSignals signals;

    const CommandFrame frame(kNames[static_cast<int>(command)]);
    if (frame.RefuseOutput(options.ci.junitFile, {options.netFile, options.port},
                           OutputKind::JUnitReport, options.ci.force)) {
        return kExitUsage;
    }
    Engine engine(nullptr, PortMap::SingleDevice(options.port));
    std::unique_ptr<Validation> validation;
    // The window's own loader: exactly its reading rules and texts. Validate
    // requires --net; emulate without one runs the all-zero network.
    FileWeights weights{};
    if (!frame.LoadNet(options.netFile, weights)) return kExitFailure;
    if (command == LinkCommand::Validate) {
        validation = std::make_unique<Validation>(DeriveModuleWeights(weights), options.tolerance);
    } else if (!options.netFile.empty()) {
        engine.LoadWeights(weights);
    }
    auto queue = std::make_shared<PassQueue>(options.timestamps);
    engine.SetNotifier([queue](const PassReport& r) { queue->OnReport(r); });
    // Only validate needs to know that a pass's inputs held; monitor keeps its bytes.
    engine.SetConfirmInputs(command == LinkCommand::Validate);
    (void)engine.SetMode(command == LinkCommand::Emulate ? MODE_EMULATOR : MODE_MONITOR);
    if (!engine.Start()) {
        return frame.Fail("the engine could not start");
    }
    OrderedOutput output(STDOUT_FILENO, STDERR_FILENO);
    // With --json, stdout holds the one JSON object and nothing else.
    const bool passLines = !options.ci.json;
    if ((options.timestamps || validation) && passLines) {
        output.Out(Header(command, options.timestamps) + '\n');
    }

    int passes = 0;
    long failed = 0;
    std::string firstFailure;
    FailureLines failureLines;
    const auto printFailures = [&output](const std::vector<std::string>& lines) {
        for (const std::string& text : lines) output.Err(text + '\n');
    };
    bool signalled = false;
    while (!signalled && output.OutError() == 0 &&
           (options.passes == 0 || passes < options.passes)) {
        signalled = signals.Wait(std::chrono::milliseconds(20));
        // A reader that falls behind holds the passes back (see PassQueue).
        if (!output.HasRoom()) continue;
        std::string out;
        for (const StampedReport& entry : queue->Take()) {
            if (options.passes != 0 && passes >= options.passes) break;
            ++passes;
            const PassReport& r = entry.report;
            if (!r.ok) {
                ++failed;
                if (firstFailure.empty()) firstFailure = r.status.text;
                output.Out(std::move(out));
                out.clear();
                // The numbered text as the window shows it, then its cause in words.
                std::string text = r.status.text;
                if (const std::string cause = LinkCauseText(r.failure, options.port);
                    !cause.empty()) {
                    text += ": " + cause;
                }
                printFailures(failureLines.Failed(text, FailureLines::Clock::now()));
                continue;
            }
            printFailures(failureLines.Flush());
            std::string line =
                PassValuesLine(options.timestamps ? &entry.stamp : nullptr, r.inputs, r.outputs);
            if (validation && !validation->Compare(r, line)) continue;
            if (passLines) {
                out += line;
                out += '\n';
            }
        }
        output.Out(std::move(out));
    }
    queue->Close();
    engine.Stop();  // interrupts any wait; the worker's link closes the port
    printFailures(failureLines.Flush());
    if (validation) {
        std::ostringstream summary;
        validation->PrintSummary(summary, failed);
        output.Err(summary.str());
    }
    // All of it reaches the reader, unless a signal says stop and the reader stalls.
    bool drained = false;
    for (bool stop = signalled; !drained;) {
        drained = output.Drain(stop ? kDrainAfterSignal : std::chrono::milliseconds(20));
        if (stop) break;
        stop = signals.Poll();
    }
    if (const int error = output.OutError(); error != 0) {
        return frame.Fail(std::string("error writing the output: ") + std::strerror(error));
    }
    if (!drained) {
        return frame.Fail("error writing the output: the reader took nothing for " +
                          std::to_string(kDrainAfterSignal.count()) + " ms");
    }
    if (validation) {
        // A run that judged nothing never passes: a module is only as good as a
        // comparison showed it to be.
        const int exitCode = validation->Exceeded()        ? kExitMismatch
                             : failed > 0                  ? kExitFailure
                             : validation->Compared() == 0 ? kExitNoVerdict
                                                           : kExitOk;
        ValidateFigures figures = validation->Figures();
        figures.port = options.port;
        figures.netFile = options.netFile;
        figures.passes = passes;
        figures.failedPasses = failed;
        figures.movedPasses = validation->Moved();
        figures.firstFailure = firstFailure;
        figures.timestamp = startTime;
        figures.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return WriteCiReports(frame, options.ci, exitCode, figures);
    }
    if (signalled) return kExitOk;
    return failed > 0 ? kExitFailure : kExitOk;
}

CliCommand AddModeCommand(CLI::App& root, LinkCommand command) {
    auto options = std::make_shared<LinkOptions>();
    static constexpr const char* kHelp[] = {
        "Run the Monitor mode on a device: read the module's inputs and outputs; one line of 8 "
        "inputs and 8 outputs per pass",
        "Run the Emulator mode on a device: read the module's inputs, send it the outputs "
        "computed here; one line of 8 inputs and 8 outputs per pass",
        "Compare the module with the host: Monitor passes, and per pass the module's outputs, "
        "the host's integer evaluation of the same inputs and their difference in LSB; a "
        "summary on stderr. Exit 3 when an output differs by more than the tolerance, 4 when "
        "no pass could be compared"};
    const int index = static_cast<int>(command);
    CLI::App* sub = root.add_subcommand(kNames[index], kHelp[index]);
    AddValueOption(sub, "--port", options->port,
                   "Serial device (e.g. /dev/ttyUSB0) or a port server's port, "
                   "tcp://HOST:PORT (raw TCP) or rfc2217://HOST:PORT; named in the texts")
        ->required()
        ->check(kPortName);
    if (command == LinkCommand::Emulate) {
        AddValueOption(sub, "--net", options->netFile,
                       "ASCII net file (default: all-zero network)");
    } else if (command == LinkCommand::Validate) {
        AddValueOption(sub, "--net", options->netFile,
                       "ASCII net file whose module weights the host evaluates")
            ->required();
        AddValueOption(sub, "--tolerance", options->tolerance,
                       "Largest |module - host| still counted as a match, in LSB")
            ->check(WholeNumberIn(0, 255))
            ->capture_default_str();
        AddCiOptions(*sub, options->ci, true);
    }
    AddValueOption(sub, "--passes", options->passes,
                   "Stop after N passes, failed ones included (0, the default: until "
                   "SIGINT/SIGTERM)")
        ->check(WholeNumberIn(0, std::numeric_limits<int>::max()));
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

// pelkora-cli train: a network for the module from its training sets.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <limits>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/commands.h"
#include "cli/option_checks.h"
#include "files/ci_report.h"
#include "files/flash_image_reader.h"
#include "files/replace_file.h"
#include "files/training_rows.h"
#include "network/net_file_writer.h"
#include "network/training/trainer.h"
#include "network/training/training_report.h"

namespace {

// --time-limit: more than 0 up to this (11 days and a half).
constexpr double kMaxTimeLimitSeconds = 1e6;

struct TrainOptions {
    std::vector<std::string> files;
    std::string out;
    std::string from;
    double holdout = 0.2;
    std::uint64_t seed = 1;
    double timeLimit = 0.0;
    bool quiet = false;
    bool json = false;
};

// The first SIGINT asks for the best net so far; a second one leaves at once,
// writing nothing.
std::atomic<bool> g_interrupted{false};

// The temporary file of --out while training runs, taken back by a second SIGINT.
char g_temporaryOutput[4096];

void SetTemporaryOutput(const std::string& path) {
    const std::size_t n = path.size() < sizeof g_temporaryOutput ? path.size() : 0;
    std::memcpy(g_temporaryOutput, path.data(), n);
    g_temporaryOutput[n] = '\0';
}

extern "C" void OnInterrupt(int) {
    if (g_interrupted.load()) {
        if (g_temporaryOutput[0] != '\0') {
#ifdef _WIN32
            (void)::_unlink(g_temporaryOutput);
#else
            (void)::unlink(g_temporaryOutput);
#endif
        }
        std::_Exit(130);
    }
    g_interrupted.store(true);
    std::signal(SIGINT, OnInterrupt);  // where the handler is reset on delivery
}

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

int Fail(const std::string& what) {
    std::cerr << "pelkora-cli train: " << what << '\n';
    return kExitFailure;
}

void WriteJsonFigure(std::ostream& out, const ErrorFigure& f) {
    out << "{\"rmse\":" << f.rmse << ",\"max\":" << f.maxError
        << ",\"within_one\":" << f.shareWithinOne << '}';
}

void WriteJsonFigures(std::ostream& out, const ErrorFigures& f) {
    out << "{\"outputs\":[";
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        if (m) out << ',';
        WriteJsonFigure(out, f.outputs[m]);
    }
    out << "],\"all\":";
    WriteJsonFigure(out, f.all);
    out << '}';
}

void WriteJson(std::ostream& out, const TrainingResult& r, const std::string& path) {
    // With no rows held out, the held-out figures were never measured: null.
    const bool held = r.heldOutRows > 0;
    out << std::setprecision(6);
    out << "{\"net\":" << JsonString(path) << ",\"rows\":" << r.trainRows + r.heldOutRows
        << ",\"train_rows\":" << r.trainRows << ",\"held_out_rows\":" << r.heldOutRows
        << ",\"seconds\":" << r.seconds
        << ",\"stopped_early\":" << (r.stoppedEarly ? "true" : "false")
        << ",\"float_starts\":" << r.floatStarts << ",\"float_evaluations\":" << r.floatEvaluations
        << ",\"module_sweeps\":" << r.moduleSweeps;
    const struct {
        const char* name;
        const ErrorFigures& train;
        const ErrorFigures& held;
    } sets[] = {{"float", r.floatTrain, r.floatHeldOut},
                {"module", r.moduleTrain, r.moduleHeldOut},
                {"truncated", r.truncatedTrain, r.truncatedHeldOut}};
    for (const auto& s : sets) {
        out << ",\"" << s.name << "\":{\"train\":";
        WriteJsonFigures(out, s.train);
        out << ",\"held_out\":";
        if (held) {
            WriteJsonFigures(out, s.held);
        } else {
            out << "null";
        }
        out << '}';
    }
    out << ",\"quantization_cost\":";
    if (held) {
        out << r.moduleHeldOut.all.rmse - r.floatHeldOut.all.rmse;
    } else {
        out << "null";
    }
    out << ",\"validation\":{\"rows\":" << r.validationRows << ",\"folds\":" << r.validationFolds
        << ",\"weight_decay\":" << r.weightDecay << ",\"output_decay\":" << r.outputDecay
        << ",\"module\":";
    WriteJsonFigures(out, r.moduleValidation);
    out << ",\"is_estimate\":" << (r.heldOutRows == 0 ? "true" : "false") << "},\"warnings\":[";
    for (std::size_t n = 0; n < r.warnings.size(); ++n)
        out << (n ? "," : "") << JsonString(r.warnings[n]);
    out << "]}\n";
}

int RunTrain(const TrainOptions& options) {
    std::vector<std::string> inputs = options.files;
    inputs.push_back(options.from);
    if (RefuseOutput("train", options.out, inputs, OutputKind::Any, false)) return kExitUsage;
    // Opened before the training, so that an --out that cannot be written (a
    // missing folder, a folder, a FIFO without a reader) is found out before the
    // run, not after it.
    FileReplacement file(options.out);
    errno = 0;
    if (file.Open() != FileResult::Ok) {
        const int cause = errno;
        return Fail(options.out + ": " + OutputOpenText(options.out, cause));
    }
    SetTemporaryOutput(file.TemporaryPath());
    TrainingOptions training;
    training.holdout = options.holdout;
    training.seed = options.seed;
    training.timeLimitSeconds = options.timeLimit;
    if (!options.from.empty()) {
        FileWeights start{};
        if (!LoadNetOption(options.from, start)) return kExitFailure;
        training.start = DeriveModuleWeights(start);
    }

    const TrainingRowsRead read = ReadTrainingRows(options.files);
    if (!read.ok) return Fail(read.error);
    if (read.rows.size() < kMinTrainingRows) {
        return Fail(std::to_string(read.rows.size()) + " rows, at least " +
                    std::to_string(kMinTrainingRows) + " needed");
    }

    const bool showProgress = !options.quiet && StderrIsTerminal();
    double lastShown = -1.0;
    auto progress = [&](const TrainingProgress& p) {
        if (!showProgress || p.elapsedSeconds - lastShown < 0.2) return;
        lastShown = p.elapsedSeconds;
        const char* stage = p.stage == TrainingStage::Float    ? "float"
                            : p.stage == TrainingStage::Module ? "module"
                                                               : "refit on all rows";
        std::fprintf(stderr,
                     "\rstage %d (%s), step %d, best so far: held-out module RMSE %.2f, %.0f%%, "
                     "%.1f s   ",
                     static_cast<int>(p.stage), stage, p.step, p.heldOutRmse, p.fraction * 100.0,
                     p.elapsedSeconds);
        std::fflush(stderr);
    };

    g_interrupted.store(false);
    auto previous = std::signal(SIGINT, OnInterrupt);
    const TrainingResult result = TrainNetwork(read.rows, training, progress, &g_interrupted);
    std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
    if (showProgress) std::fputs("\n", stderr);

    // Module weights are within -1073..1073, which every net file can hold.
    (void)WriteModuleNetFile(file.Stream(), result.weights);
    const FileResult written = file.Commit();
    SetTemporaryOutput({});
    if (written != FileResult::Ok) return Fail(options.out + ": " + FileResultText(written));

    if (options.json) {
        WriteJson(std::cout, result, options.out);
    } else {
        WriteTrainingReport(std::cout, result);
        std::cout << "net file: " << options.out << '\n';
    }
    std::cout.flush();
    if (!std::cout) return Fail("error writing the report");
    return kExitOk;
}

}  // namespace

std::vector<CliCommand> AddTrainCommand(CLI::App& root) {
    auto options = std::make_shared<TrainOptions>();
    CLI::App* train = root.add_subcommand(
        "train",
        "Train a network for the module from training files; write it as an ASCII net file");
    AddValueOption(train, "FILE", options->files, "Training files or recordings")->required();
    AddValueOption(train, "--out", options->out, "The ASCII net file to write")->required();
    AddValueOption(train, "--holdout", options->holdout,
                   "Share of the rows held out (0..0.9): no fitting or choice sees them")
        ->check(NumberIn(0.0, 0.9));
    AddValueOption(train, "--seed", options->seed, "Seed of the split and the starts")
        ->check(WholeNumberIn(0, std::numeric_limits<std::uint64_t>::max()));
    AddValueOption(train, "--time-limit", options->timeLimit,
                   "Stop after SECONDS with the best net so far")
        ->check(NumberIn(0.0, kMaxTimeLimitSeconds, true));
    AddValueOption(train, "--from", options->from, "Start from this ASCII net file");
    train->add_flag("--quiet", options->quiet, "No progress line");
    train->add_flag("--json", options->json, "The report as one JSON object");
    return {{train, [options] { return RunTrain(*options); }}};
}

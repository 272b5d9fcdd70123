// pelkora-cli train: a network for the module from its training sets.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/command_frame.h"
#include "cli/commands.h"
#include "cli/option_checks.h"
#include "files/replace_file.h"
#include "files/report_writer.h"
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

std::string FigureJson(const ErrorFigure& f) {
    return JsonObjectText([&](JsonObject& o) {
        o.Real("rmse", f.rmse);
        o.Real("max", f.maxError);
        o.Real("within_one", f.shareWithinOne);
    });
}

std::string FiguresJson(const ErrorFigures& f) {
    std::vector<std::string> outputs;
    for (const ErrorFigure& output : f.outputs) outputs.push_back(FigureJson(output));
    return JsonObjectText([&](JsonObject& o) {
        o.Raw("outputs", JsonArray(outputs));
        o.Raw("all", FigureJson(f.all));
    });
}

void WriteJson(std::ostream& out, const TrainingResult& r, const std::string& path) {
    // With no rows held out, the held-out figures were never measured: null.
    const bool held = r.heldOutRows > 0;
    {
        JsonObject o(out);
        o.Text("net", path);
        o.Int("rows", static_cast<long long>(r.trainRows + r.heldOutRows));
        o.Int("train_rows", static_cast<long long>(r.trainRows));
        o.Int("held_out_rows", static_cast<long long>(r.heldOutRows));
        o.Real("seconds", r.seconds);
        o.Bool("stopped_early", r.stoppedEarly);
        o.Int("float_starts", r.floatStarts);
        o.Int("float_evaluations", r.floatEvaluations);
        o.Int("module_sweeps", r.moduleSweeps);
        const struct {
            const char* name;
            const ErrorFigures& train;
            const ErrorFigures& held;
        } sets[] = {{"float", r.floatTrain, r.floatHeldOut},
                    {"module", r.moduleTrain, r.moduleHeldOut},
                    {"truncated", r.truncatedTrain, r.truncatedHeldOut}};
        for (const auto& set : sets) {
            o.Raw(set.name, JsonObjectText([&](JsonObject& s) {
                      s.Raw("train", FiguresJson(set.train));
                      s.Raw("held_out", held ? FiguresJson(set.held) : "null");
                  }));
        }
        if (held) {
            o.Real("quantization_cost", r.moduleHeldOut.all.rmse - r.floatHeldOut.all.rmse);
        } else {
            o.Null("quantization_cost");
        }
        o.Raw("validation", JsonObjectText([&](JsonObject& v) {
                  v.Int("rows", static_cast<long long>(r.validationRows));
                  v.Int("folds", r.validationFolds);
                  v.Real("weight_decay", r.weightDecay);
                  v.Real("output_decay", r.outputDecay);
                  v.Raw("module", FiguresJson(r.moduleValidation));
                  v.Bool("is_estimate", r.heldOutRows == 0);
              }));
        std::vector<std::string> warnings;
        for (const std::string& w : r.warnings) warnings.push_back(JsonString(w));
        o.Raw("warnings", JsonArray(warnings));
    }
    out << '\n';
}

int RunTrain(const TrainOptions& options) {
    const CommandFrame frame("train");
    std::vector<std::string> inputs = options.files;
    inputs.push_back(options.from);
    if (frame.RefuseOutput(options.out, inputs, OutputKind::Any, false)) return kExitUsage;
    // Opened before the training, so that an --out that cannot be written (a
    // missing folder, a folder, a FIFO without a reader) is found out before the
    // run, not after it.
    FileReplacement file(options.out);
    if (const FileOutcome opened = OpenWholeFile(file); !opened.Ok()) {
        return frame.FailFile(options.out, opened);
    }
    SetTemporaryOutput(file.TemporaryPath());
    TrainingOptions training;
    training.holdout = options.holdout;
    training.seed = options.seed;
    training.timeLimitSeconds = options.timeLimit;
    if (!options.from.empty()) {
        FileWeights start{};
        if (!frame.LoadNet(options.from, start)) return kExitFailure;
        training.start = DeriveModuleWeights(start);
    }

    const TrainingRowsRead read = ReadTrainingRows(options.files);
    if (!read.ok) return frame.FailFile(read.file, read.failure);
    if (read.rows.size() < kMinTrainingRows) {
        return frame.Fail(std::to_string(read.rows.size()) + " rows, at least " +
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
    const FileOutcome written = FinishWholeFile(
        file, [&](std::ostream& out) { return WriteModuleNetFile(out, result.weights); });
    SetTemporaryOutput({});
    if (!written.Ok()) return frame.FailFile(options.out, written);

    if (options.json) {
        WriteJson(std::cout, result, options.out);
    } else {
        WriteTrainingReport(std::cout, result);
        std::cout << "net file: " << options.out << '\n';
    }
    return frame.Finish(kExitOk);
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

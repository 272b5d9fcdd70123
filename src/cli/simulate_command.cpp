#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>

#include "cli/command_frame.h"
#include "cli/commands.h"
#include "cli/option_checks.h"
#include "cli/vector_stream.h"
#include "network/evaluators.h"
#include "os/io.h"

namespace {

struct SimulateOptions {
    std::string netFile;
    std::string engine = "float";
};

int RunSimulate(const SimulateOptions& options) {
    // The all-zero network unless a file is given, as at the window's start.
    const CommandFrame frame("simulate");
    FileWeights fileWeights{};
    if (!frame.LoadNet(options.netFile, fileWeights)) return kExitFailure;
    const ModuleWeights moduleWeights = DeriveModuleWeights(fileWeights);

    VectorEvaluator evaluate;
    if (options.engine == "int") {
        evaluate = [&moduleWeights](const NetInputs& in) { return EvaluateInt(in, moduleWeights); };
    } else {
        evaluate = [&fileWeights](const NetInputs& in) { return EvaluateFloat(in, fileWeights); };
    }

    std::ios::sync_with_stdio(false);
    // Straight from the descriptor: a read error (stdin a directory, a device
    // error) is reported with its cause instead of thrown out of the C++ stream.
    const StreamResult result = StreamVectors(
        [](char* buffer, std::size_t size) { return ReadSome(STDIN_FILENO, buffer, size); },
        std::cout, evaluate);
    if (!result.ok && !result.outputFailed) {
        (void)std::cout.flush();  // the outputs of the lines before it
        return frame.Fail(result.error);
    }
    return frame.Finish(kExitOk);
}

}  // namespace

std::vector<CliCommand> AddSimulateCommand(CLI::App& root) {
    auto options = std::make_shared<SimulateOptions>();
    CLI::App* sub = root.add_subcommand(
        "simulate",
        "Evaluate the network locally: input vectors (8 values 0..255 per line) on stdin, "
        "one line of 8 outputs per vector on stdout");
    AddValueOption(sub, "--net", options->netFile,
                   "ASCII net file to load (default: all-zero network)");
    AddValueOption(sub, "--engine", options->engine,
                   "float (double precision) or int (the module's arithmetic)")
        ->check(CLI::IsMember({"float", "int"}))
        ->capture_default_str();
    return {{sub, [options] { return RunSimulate(*options); }}};
}

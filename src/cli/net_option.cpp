#include <cerrno>
#include <cstring>
#include <iostream>

#include "cli/commands.h"
#include "files/net_file.h"

bool LoadNetOption(const std::string& path, FileWeights& weights) {
    if (path.empty()) return true;  // the all-zero network, as at the window's start
    const NetFileRead read = ReadNetFile(path, path, weights);
    if (read.result == FileResult::Ok) return true;
    std::cerr << read.message << '\n';
    return false;
}

std::vector<CliCommand> AddAllCommands(CLI::App& root) {
    std::vector<CliCommand> commands;
    for (auto add : {AddSimulateCommand, AddLinkCommands, AddExportCommand, AddQuantizeCommand,
                     AddImageCommands, AddTrainCommand}) {
        for (CliCommand& c : add(root)) commands.push_back(std::move(c));
    }
    return commands;
}

int FinishOutput(const char* command, int exitCode) {
    errno = 0;
    if (std::cout.flush()) return exitCode;
    const int cause = errno;
    std::cerr << "pelkora-cli " << command << ": error writing the output";
    if (cause != 0) std::cerr << ": " << std::strerror(cause);
    std::cerr << '\n';
    return kExitFailure;
}

bool RefuseOutput(const char* command, const std::string& output,
                  const std::vector<std::string>& inputs, OutputKind kind, bool force) {
    if (output.empty()) return false;
    const OutputCheck check = CheckOutput(output, inputs, kind, force);
    if (!check.Refused()) return false;
    std::cerr << "pelkora-cli " << command << ": " << OutputCheckText(check, output, kind) << '\n';
    return true;
}

// Every sub-command, for the root app and the tests that drive them in-process.

#include "cli/commands.h"

std::vector<CliCommand> AddAllCommands(CLI::App& root) {
    std::vector<CliCommand> commands;
    for (auto add : {AddSimulateCommand, AddLinkCommands, AddExportCommand, AddQuantizeCommand,
                     AddImageCommands, AddTrainCommand}) {
        for (CliCommand& c : add(root)) commands.push_back(std::move(c));
    }
    return commands;
}

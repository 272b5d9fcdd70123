#pragma once
// Sub-commands of pelkora-cli. Each Add* function declares its sub-command and
// options on the root app and returns how to run it once parsed.

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

// Exit codes of pelkora-cli: one per kind of failure, the same in every
// sub-command (the table is in docs/cli.md and the man page). Messages follow the
// rule of CommandFrame (cli/command_frame.h).
constexpr int kExitOk = 0;
// A file that cannot be opened, read or written (a net file, a flash image, input
// vectors, training rows, a recording, an output file, stdout), a bad line of
// values, a failed pass, a device that cannot be used.
constexpr int kExitFailure = 1;
// The command line: an unknown option, a missing, empty or out-of-range value, an
// output refused before any work (one of the inputs, or a file of another kind).
constexpr int kExitUsage = 2;
constexpr int kExitMismatch = 3;   // validate and verify: the two sides differ
constexpr int kExitNoVerdict = 4;  // validate: no pass could be compared

struct CliCommand {
    CLI::App* app = nullptr;
    std::function<int()> run;
};

[[nodiscard]] std::vector<CliCommand> AddSimulateCommand(CLI::App& root);
[[nodiscard]] std::vector<CliCommand> AddLinkCommands(CLI::App& root);
[[nodiscard]] std::vector<CliCommand> AddExportCommand(CLI::App& root);
[[nodiscard]] std::vector<CliCommand> AddQuantizeCommand(CLI::App& root);
[[nodiscard]] std::vector<CliCommand> AddImageCommands(CLI::App& root);  // verify, decode
[[nodiscard]] std::vector<CliCommand> AddTrainCommand(CLI::App& root);
// Every sub-command above, in the order of the help text.
[[nodiscard]] std::vector<CliCommand> AddAllCommands(CLI::App& root);

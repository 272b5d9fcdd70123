#pragma once
// Sub-commands of pelkora-cli. Each Add* function declares its sub-command and
// options on the root app and returns how to run it once parsed.

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "files/replace_file.h"
#include "network/weights.h"

// Exit codes of pelkora-cli.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitMismatch = 3;   // validate and verify: the two sides differ
constexpr int kExitNoVerdict = 4;  // validate: no pass could be compared

// Loads --net FILE into `weights` (left all zero when `path` is empty). On failure
// prints the system's text ("Error opening file" / "Error reading file") on stderr.
[[nodiscard]] bool LoadNetOption(const std::string& path, FileWeights& weights);

// Before any work: refuses an `output` that is one of the command's `inputs`, or
// (unless `force`) an existing file that is not of `kind`, saying why on stderr as
// "pelkora-cli COMMAND: OUTPUT: ...". True when refused: the command then ends
// with kExitUsage and nothing touched.
[[nodiscard]] bool RefuseOutput(const char* command, const std::string& output,
                                const std::vector<std::string>& inputs, OutputKind kind,
                                bool force);

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

// Flushes stdout; when that (or an earlier write) failed, says so on stderr as
// "pelkora-cli COMMAND: error writing the output[: cause]" and gives kExitFailure,
// else `exitCode`. A command whose output did not all arrive never reports success.
[[nodiscard]] int FinishOutput(const char* command, int exitCode);

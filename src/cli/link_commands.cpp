#include "cli/commands.h"

// monitor, emulate and target arrive with the serial link.
std::vector<CliCommand> AddLinkCommands(CLI::App&) { return {}; }

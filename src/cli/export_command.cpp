#include "cli/commands.h"

// export arrives with the hexadecimal net file writer.
std::vector<CliCommand> AddExportCommand(CLI::App&) { return {}; }

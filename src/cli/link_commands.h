#pragma once
// The sub-commands that use the serial link: monitor, emulate (link_commands.cpp)
// and the virtual module, target (target_command.cpp).

#include "cli/commands.h"

[[nodiscard]] CliCommand AddTargetCommand(CLI::App& root);

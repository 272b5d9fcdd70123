#pragma once
// The sub-commands that use the serial link: monitor, emulate (link_commands.cpp)
// and the virtual module, target (target_command.cpp).

#include "cli/commands.h"

#if PELKORA_HAVE_TARGET_COMMAND
// Built where pseudo-terminals exist (not on Windows).
[[nodiscard]] CliCommand AddTargetCommand(CLI::App& root);
#endif

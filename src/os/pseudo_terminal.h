#pragma once
// Pseudo-terminals, for the virtual module and the tests that play one. POSIX
// only: there is no such thing on Windows, so the Windows build has no
// pseudo-terminal code at all.
//
// Thread rules: no state of its own.

#include <string>

#include "os/unique_fd.h"

// A pseudo-terminal pair: the master end and the path of the slave device, both
// in raw mode (nothing echoed or translated).
struct PseudoTerminal {
    UniqueFd master;
    std::string slavePath;
};
// False with errno set when no pseudo-terminal could be made. `masterFlags` may
// add O_NONBLOCK.
[[nodiscard]] bool OpenPseudoTerminal(PseudoTerminal& pty, int masterFlags = 0);

#include "os/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

bool OpenPseudoTerminal(PseudoTerminal& pty, int masterFlags) {
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | masterFlags));
    if (!master || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) return false;
    char name[256];
    if (::ptsname_r(master.get(), name, sizeof name) != 0) return false;
    // Raw from the start, so nothing is echoed or translated before the other end
    // configures itself.
    termios tio{};
    if (::tcgetattr(master.get(), &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(master.get(), TCSANOW, &tio);
    }
    pty.master = std::move(master);
    pty.slavePath = name;
    return true;
}

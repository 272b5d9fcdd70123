// pelkora-cli target: a virtual module on a pseudo-terminal, for users without
// hardware and for the tests. Serves until SIGINT or SIGTERM.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "cli/link_commands.h"
#include "cli/option_checks.h"
#include "cli/virtual_module.h"

namespace {

struct TargetOptions {
    std::string link;
    std::string netFile;
    std::string inputs;
    bool pace = false;
    bool verbose = false;
};

// One byte at 9600 baud: a start bit, 8 data bits and a stop bit.
constexpr auto kByteTime = std::chrono::microseconds(1042);

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

std::string ErrnoText(const std::string& what) {
    return "pelkora-cli target: " + what + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const std::string& bytes, bool pace) {
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t chunk = pace ? 1 : bytes.size() - done;
        const ssize_t n = ::write(fd, bytes.data() + done, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
        if (pace) std::this_thread::sleep_for(kByteTime);
    }
    return true;
}

// Points `link` at `target` atomically; refuses to replace anything but a symlink.
bool CreateLink(const std::string& link, const std::string& target) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        errno = EEXIST;
        return false;
    }
    const std::string temp = link + ".tmp" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0) return false;
    if (::rename(temp.c_str(), link.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    }
    return true;
}

// Removes `link` only if it still points at our device (another target may own it now).
void RemoveLink(const std::string& link, const std::string& target) {
    char buffer[4096];
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (n < 0) return;
    buffer[n] = '\0';
    if (target == buffer) ::unlink(link.c_str());
}

int RunTarget(const TargetOptions& options) {
    NetInputs fixedInputs{};
    const bool fixed = !options.inputs.empty();
    if (fixed) {
        std::string error;
        if (!ParseInputList(options.inputs, fixedInputs, error)) {
            std::cerr << "pelkora-cli target: --inputs: " << error << '\n';
            return kExitUsage;
        }
    }
    FileWeights fileWeights{};  // the all-zero network without --net
    if (!LoadNetOption(options.netFile, fileWeights)) return kExitFailure;
    VirtualModule module(DeriveModuleWeights(fileWeights));

    // Signals arrive as readable data, so the serving loop ends cleanly.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (::sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        std::cerr << ErrnoText("sigprocmask") << '\n';
        return kExitFailure;
    }
    const Fd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC));
    if (signalFd.get() < 0) {
        std::cerr << ErrnoText("signalfd") << '\n';
        return kExitFailure;
    }

    const Fd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (master.get() < 0 || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
        std::cerr << ErrnoText("pseudo-terminal") << '\n';
        return kExitFailure;
    }
    char slaveName[256];
    if (::ptsname_r(master.get(), slaveName, sizeof slaveName) != 0) {
        std::cerr << ErrnoText("ptsname") << '\n';
        return kExitFailure;
    }
    // Raw from the start, so nothing is echoed or translated before the tool
    // configures its end.
    termios tio{};
    if (::tcgetattr(master.get(), &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(master.get(), TCSANOW, &tio);
    }
    // Holding our own end open keeps the line up between two users of the device:
    // otherwise the master reports a hang-up whenever the tool closes it.
    const Fd heldSlave(::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (heldSlave.get() < 0) {
        std::cerr << ErrnoText(slaveName) << '\n';
        return kExitFailure;
    }
    if (!options.link.empty() && !CreateLink(options.link, slaveName)) {
        std::cerr << ErrnoText("cannot create the link " + options.link) << '\n';
        return kExitFailure;
    }

    std::cout << slaveName << std::endl;  // flushed: a script waits for this line

    const auto start = std::chrono::steady_clock::now();
    std::string reply;
    std::string log;
    int exitCode = kExitOk;
    for (;;) {
        pollfd fds[2] = {{master.get(), POLLIN, 0}, {signalFd.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            std::cerr << ErrnoText("poll") << '\n';
            exitCode = kExitFailure;
            break;
        }
        if (fds[1].revents & POLLIN) break;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char bytes[64];
        const ssize_t n = ::read(master.get(), bytes, sizeof bytes);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            // Cannot happen while we hold the other end; do not spin if it does.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const NetInputs inputs = fixed ? fixedInputs : SweepInputs(seconds);
            reply.clear();
            log.clear();
            module.Receive(bytes[i], inputs, reply, options.verbose ? &log : nullptr);
            if (!log.empty()) std::cerr << log << std::flush;
            if (!reply.empty() && !WriteAll(master.get(), reply, options.pace)) {
                std::cerr << ErrnoText("write") << '\n';
            }
        }
    }
    if (!options.link.empty()) RemoveLink(options.link, slaveName);
    return exitCode;
}

}  // namespace

CliCommand AddTargetCommand(CLI::App& root) {
    auto options = std::make_shared<TargetOptions>();
    CLI::App* sub = root.add_subcommand(
        "target",
        "A virtual module on a pseudo-terminal: prints its device path, then answers "
        "the tool until SIGINT/SIGTERM");
    sub->add_option("--link", options->link,
                    "Also make PATH a symbolic link to the device (removed at the end)")
        ->check(NonEmpty);
    sub->add_option("--net", options->netFile,
                    "ASCII net file whose module weights compute the outputs (default: all zero)")
        ->check(NonEmpty);
    sub->add_option("--inputs", options->inputs,
                    "Fixed inputs v1,...,v8 (0..255; default: a slow sweep)")
        ->check(NonEmpty);
    sub->add_flag("--pace", options->pace, "Send at 9600-baud timing (about 1.04 ms a byte)");
    sub->add_flag("--verbose", options->verbose, "Log each command received on stderr");
    return {sub, [options] { return RunTarget(*options); }};
}

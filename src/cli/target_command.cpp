// pelkora-cli target: a virtual module on a pseudo-terminal, for users without
// hardware and for the tests. Serves until SIGINT, SIGTERM or SIGHUP.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_frame.h"
#include "cli/link_commands.h"
#include "cli/option_checks.h"
#include "cli/replay.h"
#include "cli/virtual_module.h"
#include "engine/wire_codec.h"
#include "os/io.h"
#include "os/pseudo_terminal.h"

namespace {

struct TargetOptions {
    std::string link;
    std::string netFile;
    std::string inputs;
    std::vector<std::string> faults;
    std::string replay;
    bool pace = false;
    bool verbose = false;
};

// One byte at 9600 baud: a start bit, 8 data bits and a stop bit.
constexpr auto kByteTime = std::chrono::microseconds(1042);

// Sends a reply without ever blocking: a client that sends commands and reads no
// replies fills the pseudo-terminal, and what does not fit is dropped (a real
// module's transmitter does not wait for its host either). Returns the bytes sent.
std::size_t SendReply(int fd, const std::string& bytes, bool pace) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t chunk = pace ? 1 : bytes.size() - done;
        const ssize_t n = ::write(fd, bytes.data() + done, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;  // EAGAIN: full; anything else: nobody to send to
        }
        done += static_cast<std::size_t>(n);
        if (pace) std::this_thread::sleep_for(kByteTime);
    }
    return done;
}

// Makes `link` a symbolic link to `target`. Refuses a path that exists, whatever
// it is: symlink() creates the name or fails, so nothing is ever replaced.
bool CreateLink(const std::string& link, const std::string& target) {
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

// Removes `link` only if it still points at our device (another target may own it now).
void RemoveLink(const std::string& link, const std::string& target) {
    char buffer[4096];
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (n < 0) return;
    buffer[n] = '\0';
    if (target == buffer) ::unlink(link.c_str());
}

// The --link of a run, removed however the run ends once it was made.
class LinkGuard {
public:
    LinkGuard(std::string link, std::string target)
        : link_(std::move(link)), target_(std::move(target)) {}
    ~LinkGuard() {
        if (!link_.empty()) RemoveLink(link_, target_);
    }
    LinkGuard(const LinkGuard&) = delete;
    LinkGuard& operator=(const LinkGuard&) = delete;

private:
    std::string link_;
    std::string target_;
};

int RunTarget(const TargetOptions& options) {
    const CommandFrame frame("target");
    // A system call that failed: what it was about, then errno in words.
    const auto failed = [&frame](const std::string& what) {
        return frame.Fail(what + ": " + std::strerror(errno));
    };
    NetInputs fixedInputs{};
    const bool fixed = !options.inputs.empty();
    if (fixed) {
        std::string error;
        if (!ParseInputList(options.inputs, fixedInputs, error)) {
            (void)frame.Fail("--inputs: " + error);
            return kExitUsage;
        }
    }
    FileWeights fileWeights{};  // the all-zero network without --net
    if (!frame.LoadNet(options.netFile, fileWeights)) return kExitFailure;
    std::vector<OutputFault> faults;
    for (const std::string& text : options.faults) {
        OutputFault fault;
        std::string error;
        if (!ParseOutputFault(text, fault, error)) {
            (void)frame.Fail("--fault: " + error);
            return kExitUsage;
        }
        faults.push_back(fault);
    }
    VirtualModule module(DeriveModuleWeights(fileWeights), std::move(faults));
    Replay replay;
    const bool replaying = !options.replay.empty();
    if (replaying) {
        BoundedFileStream file;
        if (!frame.OpenInput(options.replay, file)) return kExitFailure;
        std::string error;
        const bool read = replay.Read(file, error);
        // A read that failed ends the stream as its end does: that is the cause.
        if (!frame.InputRead(options.replay, file)) return kExitFailure;
        if (!read) return frame.FailFile(options.replay, {FileResult::ReadFailed, error});
    }
    // At the recorded rhythm only when asked and when the recording has its times.
    const bool replayTimed = replaying && options.pace && replay.Timed();
    ReplayLine current;
    if (replaying) {
        current = replay.First();  // until the first "I"
        module.SetRecordedOutputs(current.outputs);
    }

    // A reader of our output that goes away (`target --verbose 2>&1 | head -1`)
    // must end the run as a write error, with the link removed, not kill it.
    ::signal(SIGPIPE, SIG_IGN);

    // Signals arrive as readable data, so the serving loop ends cleanly, and the
    // link is removed, on each of them.
    TerminationSignals signals;
    if (!signals.Ok()) {
        return failed("signalfd");
    }

    PseudoTerminal pty;
    if (!OpenPseudoTerminal(pty, O_NONBLOCK)) {
        return failed("pseudo-terminal");
    }
    const int master = pty.master.get();
    const std::string& slaveName = pty.slavePath;
    // Holding our own end open keeps the line up between two users of the device:
    // otherwise the master reports a hang-up whenever the tool closes it.
    const UniqueFd heldSlave(::open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!heldSlave) {
        return failed(slaveName);
    }
    if (!options.link.empty() && !CreateLink(options.link, slaveName)) {
        return failed(options.link + ": cannot create the link");
    }
    const LinkGuard linkGuard(options.link, slaveName);

    std::cout << slaveName << std::endl;  // flushed: a script waits for this line
    if (!std::cout) {
        return failed("standard output");
    }

    const auto start = std::chrono::steady_clock::now();
    std::string reply;
    std::string log;
    int exitCode = kExitOk;
    // One recorded line per pass: the first "I" after an "R" or "S" moves on (at
    // every "I" for a client that sends neither). A second "I" in the same pass,
    // as validate sends to see whether the inputs held, reads the same line.
    bool sawPassStart = false;
    bool passStarted = false;
    for (;;) {
        pollfd fds[2] = {{master, POLLIN, 0}, {signals.Fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            exitCode = failed("poll");
            break;
        }
        if (fds[1].revents & POLLIN) break;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char bytes[64];
        const ssize_t n = ::read(master, bytes, sizeof bytes);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            // Cannot happen while we hold the other end; do not spin if it does.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (bytes[i] == kCommandReset || bytes[i] == kCommandSync) {
                sawPassStart = true;
                passStarted = true;
            }
            if (replaying && bytes[i] == kCommandInputs &&
                (replayTimed || passStarted || !sawPassStart)) {
                // "O" answers from the line this "I" moved to.
                current = replayTimed ? replay.At(static_cast<std::int64_t>(seconds * 1000))
                                      : replay.Next();
                module.SetRecordedOutputs(current.outputs);
            }
            if (bytes[i] == kCommandInputs) passStarted = false;
            const NetInputs inputs = replaying ? current.inputs
                                     : fixed   ? fixedInputs
                                               : SweepInputs(seconds);
            reply.clear();
            log.clear();
            module.Receive(bytes[i], inputs, reply, options.verbose ? &log : nullptr);
            if (!log.empty() && !(std::cerr << log << std::flush)) {
                // Nobody reads the log any more (its pipe is closed): a write
                // error, and there is nowhere left to say so.
                exitCode = kExitFailure;
                break;
            }
            if (!reply.empty()) {
                const std::size_t sent = SendReply(master, reply, options.pace);
                if (sent < reply.size() && options.verbose) {
                    std::cerr << "reply dropped after " << sent << " of " << reply.size()
                              << " bytes: nobody reads\n";
                }
            }
        }
        if (exitCode != kExitOk || !std::cerr) {
            exitCode = kExitFailure;
            break;
        }
    }
    return exitCode;
}

}  // namespace

CliCommand AddTargetCommand(CLI::App& root) {
    auto options = std::make_shared<TargetOptions>();
    CLI::App* sub = root.add_subcommand(
        "target",
        "A virtual module on a pseudo-terminal: prints its device path, then answers "
        "the tool until SIGINT/SIGTERM");
    AddValueOption(sub, "--link", options->link,
                   "Also make PATH a symbolic link to the device (removed at the end)");
    AddValueOption(sub, "--net", options->netFile,
                   "ASCII net file whose module weights compute the outputs (default: all zero)");
    AddValueOption(sub, "--inputs", options->inputs,
                   "Fixed inputs v1,...,v8 (0..255; default: a slow sweep)");
    AddValueOption(sub, "--fault", options->faults,
                   "K:D[:EVERY]: add D to output K (1..8) of the \"O\" replies, clamped to "
                   "0..255, on every reply or one in EVERY (repeatable)");
    AddValueOption(sub, "--replay", options->replay,
                   "Answer \"I\" and \"O\" from the lines of a recording (window recording, "
                   "--timestamps or monitor output, training file), one line per pass, "
                   "looping; with --pace and time columns at the recorded rhythm")
        ->excludes("--inputs");
    sub->add_flag("--pace", options->pace, "Send at 9600-baud timing (about 1.04 ms a byte)");
    sub->add_flag("--verbose", options->verbose, "Log each command received on stderr");
    return {sub, [options] { return RunTarget(*options); }};
}

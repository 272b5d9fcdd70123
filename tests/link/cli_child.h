#pragma once
// A child process (pelkora-cli by default) whose stdout and stderr the test reads
// as they come; killed when the test lets go of it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

// A child whose stdout and stderr the test reads as they come.
class CliChild {
public:
    explicit CliChild(const std::vector<std::string>& args) : CliChild(CliPath(), args) {}
    // Another program (by its path) run the same way.
    CliChild(const std::string& program, const std::vector<std::string>& args) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            std::vector<char*> raw;
            for (std::string& a : argv) raw.push_back(a.data());
            raw.push_back(nullptr);
            ::execv(raw[0], raw.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~CliChild() {
        if (pid_ > 0 && exitCode_ == kRunning) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
        if (err_ >= 0) ::close(err_);
    }
    CliChild(const CliChild&) = delete;
    CliChild& operator=(const CliChild&) = delete;

    // One line of stdout without its end, or "" after `timeout`.
    std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const std::size_t end = outBuffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = outBuffer_.substr(0, end);
                outBuffer_.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) return {};
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char b[256];
            const ssize_t n = ::read(out_, b, sizeof b);
            if (n <= 0) return {};
            outBuffer_.append(b, static_cast<std::size_t>(n));
        }
    }

    // Sends `signal` (none for 0) and waits for the exit code (-1 when killed or
    // too slow).
    int Stop(int signal, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        if (signal != 0) ::kill(pid_, signal);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            ::usleep(5000);
        }
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exitCode_;
    }

    // The reader of the child's stdout and stderr goes away.
    void CloseOutputs() {
        for (int* fd : {&out_, &err_}) {
            ::close(*fd);
            *fd = -1;
        }
    }

    // Everything the child wrote on stderr (call after Stop).
    std::string Err() {
        std::string all;
        char b[256];
        ssize_t n;
        while ((n = ::read(err_, b, sizeof b)) > 0) all.append(b, static_cast<std::size_t>(n));
        return all;
    }

private:
    static std::string CliPath() {
        const char* cli = std::getenv("PELKORA_CLI");
        return cli ? cli : "pelkora-cli";
    }

    static constexpr int kRunning = -1000;
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int exitCode_ = kRunning;
    std::string outBuffer_;
};

#pragma once
// A module played by the test on the master side of a pseudo-terminal: the tool
// opens the slave device as its serial port. Every byte received is recorded with
// its arrival time; a responder decides what to send back.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PtyModule {
public:
    using Clock = std::chrono::steady_clock;
    // Given the byte just received, returns the bytes to send back (maybe none).
    using Responder = std::function<std::string(char)>;

    struct Received {
        char byte;
        Clock::time_point at;
    };

    PtyModule() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        char name[256];
        if (::ptsname_r(master_, name, sizeof name) != 0) return;
        path_ = name;
        termios tio{};
        ::tcgetattr(master_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(master_, TCSANOW, &tio);
        // Keeps the line up while the tool has the device closed.
        heldSlave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    ~PtyModule() { Unplug(); }
    PtyModule(const PtyModule&) = delete;
    PtyModule& operator=(const PtyModule&) = delete;

    [[nodiscard]] bool Ok() const { return master_ >= 0 && heldSlave_ >= 0 && !path_.empty(); }
    [[nodiscard]] const std::string& Path() const { return path_; }
    [[nodiscard]] int MasterFd() const { return master_; }

    // Starts answering on a thread of its own.
    void Serve(Responder responder) {
        responder_ = std::move(responder);
        thread_ = std::thread([this] { Loop(); });
    }

    // Sends bytes unasked (a stray byte, say).
    void Send(const std::string& bytes) {
        [[maybe_unused]] const ssize_t n = ::write(master_, bytes.data(), bytes.size());
    }

    // The cable is pulled: both ends of the pseudo-terminal go away.
    void Unplug() {
        if (thread_.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
            thread_.join();
        }
        for (int* fd : {&heldSlave_, &master_, &wake_}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
    }

    [[nodiscard]] std::vector<Received> Log() {
        std::lock_guard lock(mutex_);
        return log_;
    }
    [[nodiscard]] std::string Bytes() {
        std::string bytes;
        for (const Received& r : Log()) bytes += r.byte;
        return bytes;
    }

    // Waits until `count` bytes have been received (or `timeout` passed).
    bool WaitForBytes(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return log_.size() >= count; });
    }

private:
    void Loop() {
        for (;;) {
            pollfd fds[2] = {{master_, POLLIN, 0}, {wake_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents & POLLIN) return;
            char bytes[64];
            const ssize_t n = ::read(master_, bytes, sizeof bytes);
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            for (ssize_t i = 0; i < n; ++i) {
                {
                    std::lock_guard lock(mutex_);
                    log_.push_back({bytes[i], Clock::now()});
                }
                changed_.notify_all();
                const std::string reply = responder_ ? responder_(bytes[i]) : std::string();
                if (!reply.empty()) Send(reply);
            }
        }
    }

    int master_ = -1;
    int heldSlave_ = -1;
    int wake_ = -1;
    std::string path_;
    Responder responder_;  // used by the serving thread only once started
    std::thread thread_;
    std::mutex mutex_;  // guards log_
    std::condition_variable changed_;
    std::vector<Received> log_;
};

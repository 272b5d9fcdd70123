#pragma once
// Small POSIX building blocks shared by the serial device, the file writers, the
// command line and the tests: writing everything, reading a file or a pipe, and
// waiting for the signals that end a command-line run. Everything here also exists
// on Windows (through the C runtime's descriptors and a console control handler);
// pseudo-terminals, which do not, are in pseudo_terminal.h.
//
// Thread rules: the functions keep no state. BlockTerminationSignals changes the
// calling thread's signal mask: call it before any other thread is started so
// that every thread inherits it and only the signal descriptor sees the signals.

#include <chrono>
#include <cstddef>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>

#include "os/unique_fd.h"

// Writes all `size` bytes, retrying after EINTR and short writes. Returns 0, or
// the errno that stopped it (EAGAIN on a non-blocking descriptor that is full).
[[nodiscard]] int WriteAll(int fd, const void* data, std::size_t size);

// Opens `path` read-only without waiting for a FIFO's writer: the descriptor stays
// non-blocking, and ReadSome waits for data where there is a writer to send it. A
// FIFO with no writer reads as empty at once instead of blocking for ever.
[[nodiscard]] UniqueFd OpenForReading(const std::string& path);

// read() that retries after EINTR and, on a non-blocking descriptor, waits for
// data while a writer may still send some. Returns the bytes read, 0 at the end,
// -1 with errno on an error.
[[nodiscard]] long ReadSome(int fd, void* buffer, std::size_t size);

// An input stream over a descriptor it owns (or borrows, for stdin), read with
// ReadSome. A read error ends the stream as its end does; error() tells the two
// apart (the errno, or 0). It never throws.
class FdInputStream : public std::istream {
public:
    explicit FdInputStream(UniqueFd fd);
    FdInputStream(FdInputStream&& other) noexcept;
    ~FdInputStream() override;
    [[nodiscard]] int error() const;

private:
    class Buf;
    FdInputStream(int fd, bool owned);
    std::unique_ptr<Buf> buf_;
};

// SIGINT, SIGTERM and SIGHUP as readable data: blocks them in the calling thread
// (see the thread rules) and opens a signalfd for them. On Windows: Ctrl+C,
// Ctrl+Break and the console window's closing, through a console control handler
// that sets an event (one object per process).
class TerminationSignals {
public:
    TerminationSignals();
#ifdef _WIN32
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;
    [[nodiscard]] bool Ok() const {
        return event_ != nullptr;
    }
    // Signalled (an event HANDLE, manual reset) once one of the signals arrived.
    [[nodiscard]] void* Handle() const {
        return event_;
    }
#else
    [[nodiscard]] bool Ok() const {
        return fd_.valid();
    }
    // Readable (POLLIN) once one of the signals arrived.
    [[nodiscard]] int Fd() const {
        return fd_.get();
    }
#endif
    // Waits up to `timeout` for a signal; true when one arrived (it is consumed).
    [[nodiscard]] bool Wait(std::chrono::milliseconds timeout);
    // Consumes a pending signal without waiting; true when there was one.
    [[nodiscard]] bool Poll() {
        return Wait(std::chrono::milliseconds(0));
    }

private:
#ifdef _WIN32
    void* event_ = nullptr;
#else
    UniqueFd fd_;
#endif
};

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
#include <memory>
#include <streambuf>
#include <string>

#include "os/unique_fd.h"

// Writes all `size` bytes, retrying after EINTR and short writes. Returns 0, or
// the errno that stopped it (EAGAIN on a non-blocking descriptor that is full).
[[nodiscard]] int WriteAll(int fd, const void* data, std::size_t size);

// Where an append to a file begins, so that an append that fails part way can be
// taken back: half a line left at the end would glue the next append onto it.
// Only a regular file is taken back; a pipe or a device keeps what reached it.
class AppendMark {
public:
    // Marks the end of the file open on `fd` (for appending) as it is now.
    explicit AppendMark(int fd);
    [[nodiscard]] bool Regular() const { return regular_; }
    // Cuts a regular file back to the mark; nothing otherwise. Errors are of no
    // use to the caller, who reports the failed append.
    void TakeBack() const;

private:
    int fd_;
    bool regular_ = false;
    long long size_ = 0;  // the file's length at the mark
};

// Opens `path` read-only without waiting for a FIFO's writer: the descriptor stays
// non-blocking, and ReadSome waits for data where there is a writer to send it. A
// FIFO with no writer reads as empty at once instead of blocking for ever.
[[nodiscard]] UniqueFd OpenForReading(const std::string& path);

// read() that retries after EINTR and, on a non-blocking descriptor, waits for
// data while a writer may still send some. Returns the bytes read, 0 at the end,
// -1 with errno on an error.
[[nodiscard]] long ReadSome(int fd, void* buffer, std::size_t size);

// The one read buffer of the input streams over a descriptor (the bounded file reads of
// src/files; read as it stands with ReadSome). It owns the descriptor and fills itself
// through Fill, which a stream with its own way of waiting overrides. A failed fill
// ends the stream as its end does; error() keeps its errno. It never throws.
class FdReadBuffer : public std::streambuf {
public:
    // Reads `capacity` bytes at a time at the most.
    explicit FdReadBuffer(UniqueFd fd = UniqueFd(), std::size_t capacity = 1 << 16);
    ~FdReadBuffer() override;
    FdReadBuffer(const FdReadBuffer&) = delete;
    FdReadBuffer& operator=(const FdReadBuffer&) = delete;

    // Reads from `fd` from now on, dropping what was buffered.
    void Reset(UniqueFd fd);
    [[nodiscard]] const UniqueFd& Fd() const { return fd_; }
    // The errno of the failed fill that ended the stream, or 0.
    [[nodiscard]] int error() const { return error_; }

protected:
    // Reads up to `size` bytes into `buffer`: the count, 0 at the end, -1 with
    // errno on a failure. ReadSome unless overridden.
    virtual long Fill(char* buffer, std::size_t size);
    int_type underflow() override;

private:
    UniqueFd fd_;
    int error_ = 0;
    std::size_t capacity_;
    std::unique_ptr<char[]> data_;
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

#pragma once
// Text for stdout and stderr written, in the order given, by a thread of its own,
// so that the thread that waits for the signals is never held by a reader that
// stalls: `monitor | reader-that-never-reads` still ends on SIGINT/SIGTERM. The
// queue is bounded; a caller that finds it full waits (and so holds back the
// passes) instead of letting it grow.
//
// Thread rules: every member but the writer's own loop is called from one thread
// (the command's main thread). The writer thread shares only State, which its
// mutex guards. A writer still blocked in write() when the object goes is left to
// end with the process; it owns what it uses.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

class OrderedOutput {
public:
    // `capacity`: bytes queued before HasRoom() says no.
    explicit OrderedOutput(int outFd, int errFd, std::size_t capacity = std::size_t{1} << 20);
    ~OrderedOutput();
    OrderedOutput(const OrderedOutput&) = delete;
    OrderedOutput& operator=(const OrderedOutput&) = delete;

    void Out(std::string text);
    void Err(std::string text);
    [[nodiscard]] bool HasRoom() const;
    // The errno of the write to stdout that failed (stdout is written no more), or 0.
    [[nodiscard]] int OutError() const;
    // Waits up to `timeout` until everything queued is written; true when it is.
    [[nodiscard]] bool Drain(std::chrono::milliseconds timeout);

private:
    struct State;
    std::shared_ptr<State> state_;
};

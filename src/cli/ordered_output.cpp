#include "cli/ordered_output.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "os/io.h"

struct OrderedOutput::State {
    struct Item {
        int fd;
        std::string text;
    };
    State(int out, int err, std::size_t bytes) : outFd(out), errFd(err), capacity(bytes) {}

    const int outFd;
    const int errFd;
    const std::size_t capacity;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Item> queue;  // guarded by mutex
    std::size_t queued = 0;  // bytes in queue and being written; guarded by mutex
    int outError = 0;        // guarded by mutex
    bool closing = false;    // guarded by mutex

    void Push(int fd, std::string text) {
        if (text.empty()) return;
        {
            std::lock_guard lock(mutex);
            if (fd == outFd && outError != 0) return;
            queued += text.size();
            queue.push_back({fd, std::move(text)});
        }
        changed.notify_all();
    }

    void Run() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return closing || !queue.empty(); });
            if (queue.empty()) return;
            Item item = std::move(queue.front());
            queue.pop_front();
            const bool skip = item.fd == outFd && outError != 0;
            lock.unlock();
            const int error = skip ? 0 : WriteAll(item.fd, item.text.data(), item.text.size());
            lock.lock();
            // A failed stderr has nobody left to tell; a failed stdout ends the command.
            if (error != 0 && item.fd == outFd && outError == 0) outError = error;
            queued -= item.text.size();
            changed.notify_all();
        }
    }
};

OrderedOutput::OrderedOutput(int outFd, int errFd, std::size_t capacity)
    : state_(std::make_shared<State>(outFd, errFd, capacity)) {
    std::thread([state = state_] { state->Run(); }).detach();
}

OrderedOutput::~OrderedOutput() {
    {
        std::lock_guard lock(state_->mutex);
        state_->closing = true;
    }
    state_->changed.notify_all();
}

void OrderedOutput::Out(std::string text) {
    state_->Push(state_->outFd, std::move(text));
}

void OrderedOutput::Err(std::string text) {
    state_->Push(state_->errFd, std::move(text));
}

bool OrderedOutput::HasRoom() const {
    std::lock_guard lock(state_->mutex);
    return state_->queued < state_->capacity;
}

int OrderedOutput::OutError() const {
    std::lock_guard lock(state_->mutex);
    return state_->outError;
}

bool OrderedOutput::Drain(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [this] { return state_->queued == 0; });
}

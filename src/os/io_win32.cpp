// The Windows side of io.h: descriptors of the C runtime, opened in binary
// mode so that a file reads the same bytes as on Linux; the termination signals
// are the console's control events.
#include "os/io.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cerrno>

UniqueFd OpenForReading(const std::string& path) {
    // The C runtime's pipes and files never make a reader wait for a writer to
    // appear, so there is nothing to avoid here as on POSIX.
    return UniqueFd(::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
}

long ReadSome(int fd, void* buffer, std::size_t size) {
    for (;;) {
        const int n = ::_read(fd, buffer, static_cast<unsigned>(size));
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

namespace {

// The handler runs on a thread of the system's: it may only set the event.
std::atomic<HANDLE> g_terminationEvent{nullptr};

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            if (HANDLE event = g_terminationEvent.load()) ::SetEvent(event);
            return TRUE;  // handled: the process ends when the command is done
        default:
            return FALSE;
    }
}

}  // namespace

TerminationSignals::TerminationSignals() {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return;
    HANDLE none = nullptr;
    if (!g_terminationEvent.compare_exchange_strong(none, event) ||
        !::SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
        g_terminationEvent.compare_exchange_strong(event, nullptr);
        ::CloseHandle(event);
        return;
    }
    event_ = event;
}

TerminationSignals::~TerminationSignals() {
    if (event_ == nullptr) return;
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_terminationEvent.store(nullptr);
    ::CloseHandle(event_);
}

bool TerminationSignals::Wait(std::chrono::milliseconds timeout) {
    if (event_ == nullptr) return false;
    if (::WaitForSingleObject(event_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        return false;
    }
    ::ResetEvent(event_);  // consumed, as a signal read from the signalfd
    return true;
}

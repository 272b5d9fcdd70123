#include "engine/stop_signal.h"

#include <windows.h>

#include <cstdlib>

StopSignal::StopSignal() : handle_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    // Without the event no wait could ever be interrupted; nothing sensible can
    // run on a machine that cannot create one.
    if (handle_ == nullptr) std::abort();
}

StopSignal::~StopSignal() {
    ::CloseHandle(handle_);
}

void StopSignal::Request() {
    ::SetEvent(handle_);
}

void StopSignal::Reset() {
    ::ResetEvent(handle_);
}

bool StopSignal::IsRequested() const {
    return ::WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0;
}

StopSignal::Wake StopSignal::WaitUpTo(long long ms) const {
    switch (::WaitForSingleObject(handle_, static_cast<DWORD>(ms))) {
        case WAIT_OBJECT_0:
            return Wake::Signalled;
        case WAIT_TIMEOUT:
            return Wake::TimedOut;
        default:
            return Wake::Failed;
    }
}

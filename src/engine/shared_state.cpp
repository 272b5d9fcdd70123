#include "engine/shared_state.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/serial_link.h"
#include "engine/stop_signal.h"

SharedState g_State;

void InitSharedState(EngineNotifier notifier) {
    g_State.pNotifier = std::move(notifier);
    g_State.bStopRequest = false;
    EngineStopSignal().Reset();
    g_State.wInputs.fill(0);
    g_State.wOutputs.fill(0);
    g_State.lFileWeights.fill(0);
    g_State.nMode = MODE_HOLD;
    g_State.nComPort = 0;
    CloseTargetPort();  // empties szOpenPort and releases a device a previous run left open
    std::snprintf(g_State.szStatus, sizeof g_State.szStatus, "%s", kStatusWelcome);
}

void SetStatus(const char* format, ...) {
    std::lock_guard lock(g_State.hMutex);
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_State.szStatus, sizeof g_State.szStatus, format, args);
    va_end(args);
}

StatusText GetStatus() {
    StatusText copy;
    std::lock_guard lock(g_State.hMutex);
    std::memcpy(copy.text, g_State.szStatus, sizeof copy.text);
    return copy;
}

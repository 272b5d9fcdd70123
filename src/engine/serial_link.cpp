#include "engine/serial_link.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "engine/serial_device.h"
#include "engine/shared_state.h"
#include "engine/stop_signal.h"
#ifdef _WIN32
#include "engine/win32_device.h"
#else
#include "engine/termios_device.h"
#endif

namespace {

constexpr const char* kCom1 = "COM1";
constexpr const char* kCom2 = "COM2";

// Guarded by g_State.hMutex: the window or the CLI may set it while the worker reads.
std::string& DeviceOverride() {
    static std::string path;
    return path;
}

// Set only while no worker runs (tests); read by the worker.
SerialOpener* g_openerOverride = nullptr;

SerialOpener& Opener() {
    if (g_openerOverride != nullptr) return *g_openerOverride;
#ifdef _WIN32
    static Win32SerialOpener native(EngineStopSignal().Handle());
#else
    static TermiosOpener native(EngineStopSignal().Fd());
#endif
    return native;
}

// Frees the device and marks the link closed.
void ReleasePort() {
    delete g_State.hPort;
    g_State.hPort = nullptr;
    g_State.szOpenPort[0] = '\0';
}

}  // namespace

std::string ComPortDevice(int comPort) {
    const char* variable = comPort == 0 ? "PELKORA_COM1" : "PELKORA_COM2";
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
#ifdef _WIN32
    return comPort == 0 ? kCom1 : kCom2;
#else
    return comPort == 0 ? "/dev/ttyS0" : "/dev/ttyS1";
#endif
}

void SetTargetDeviceOverride(const std::string& path) {
    std::lock_guard lock(g_State.hMutex);
    DeviceOverride() = path;
}

void SetSerialOpener(SerialOpener* opener) {
    g_openerOverride = opener;
}

bool OpenTargetPort() {
    char name[PORT_NAME_SIZE];
    int comPort;
    {
        std::lock_guard lock(g_State.hMutex);
        comPort = g_State.nComPort;
    }
    std::snprintf(name, sizeof name, "%s", comPort == 0 ? kCom1 : kCom2);
    if (std::strcmp(name, g_State.szOpenPort) == 0) return true;

    ReleasePort();  // the choice has changed (or nothing was open)
    std::snprintf(g_State.szOpenPort, sizeof g_State.szOpenPort, "%s", name);

    // Only when a port is really opened: the loop's passes allocate nothing.
    std::string path;
    std::string shownName;
    {
        std::lock_guard lock(g_State.hMutex);
        path = DeviceOverride();
    }
    if (path.empty()) {
        path = ComPortDevice(comPort);
        shownName = name;
    } else {
        shownName = path;
    }

    SerialOpenResult opened = Opener().Open(path);
    switch (opened.stage) {
        case OpenStage::Done:
            if (opened.device) {
                g_State.hPort = opened.device.release();
                return true;
            }
            // An opener that claims success without a device: treat as a failed open.
            SetStatus(kErrorOpeningPort, shownName.c_str(), ENODEV);
            break;
        case OpenStage::Open:
            SetStatus(kErrorOpeningPort, shownName.c_str(), opened.error);
            break;
        case OpenStage::ReadSettings:
            SetStatus(kErrorConfiguring1, opened.error);
            break;
        case OpenStage::ApplySettings:
            SetStatus(kErrorConfiguring2, opened.error);
            break;
        case OpenStage::ApplyTimeouts:
            SetStatus(kErrorConfiguring3, opened.error);
            break;
    }
    g_State.szOpenPort[0] = '\0';
    return false;
}

void CloseTargetPort() {
    ReleasePort();
}

bool WriteTarget(const char* text) {
    if (!OpenTargetPort()) return false;
    const std::size_t size = std::strlen(text);
    const SerialTransfer t = g_State.hPort->Write(text, size);
    if (t.count == size && t.error == 0) return true;
    SetStatus(kErrorWriting, t.error);
    if (t.deviceGone) ReleasePort();
    return false;
}

bool ReadTarget(char* buffer, std::size_t count) {
    // Always follows a successful write; a gone device was closed by it.
    if (g_State.hPort == nullptr || g_State.szOpenPort[0] == '\0') {
        SetStatus(kErrorReading, EBADF);
        return false;
    }
    const SerialTransfer t = g_State.hPort->Read(buffer, count);
    if (t.count == count && t.error == 0) return true;
    SetStatus(kErrorReading, t.error);
    if (t.deviceGone) ReleasePort();
    return false;
}

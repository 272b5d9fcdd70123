#include "engine/serial_device_win32.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "engine/native_serial.h"
#include "engine/stop_signal.h"
#include "engine/win32_comm_settings.h"
#include "os/deadline.h"

namespace {

// How long past the driver's own time-out we wait before giving up on it: a
// driver that never completes a read must not hang the worker.
constexpr DWORD kDriverGraceMs = 1000;

// How often a wait for input looks at the driver's queue.
constexpr long long kInputPollMs = 5;

// ERROR_NO_SUCH_DEVICE, which mingw-w64's headers do not name.
constexpr DWORD kErrorNoSuchDevice = 433;

class Win32Device final : public SerialDevice {
public:
    Win32Device(HANDLE port, HANDLE ioEvent, HANDLE stopEvent, SerialTimeouts timeouts)
        : port_(port), ioEvent_(ioEvent), stopEvent_(stopEvent), timeouts_(timeouts) {}
    ~Win32Device() override {
        ::CloseHandle(port_);
        ::CloseHandle(ioEvent_);
    }
    Win32Device(const Win32Device&) = delete;
    Win32Device& operator=(const Win32Device&) = delete;

    SerialTransfer Write(const char* data, std::size_t size) override {
        return Transfer(false, const_cast<char*>(data), size,
                        Budget(timeouts_.writeTotalPerByte, timeouts_.writeTotalConstant, size));
    }

    void DiscardInput() override { ::PurgeComm(port_, PURGE_RXCLEAR); }

    InputWait WaitForInput(std::chrono::milliseconds duration) override {
        // The driver's queue count, looked at every few milliseconds: simpler
        // than an overlapped WaitCommEvent beside the reads, and the pauses it
        // stands in for are 50 ms and more.
        const Deadline deadline = Deadline::In(duration);
        for (;;) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!::ClearCommError(port_, &errors, &status)) return InputWait::Failed;
            if (status.cbInQue > 0) return InputWait::Arrived;
            const int left = deadline.LeftMs();
            if (left == 0) return InputWait::Quiet;
            const DWORD step = static_cast<DWORD>(std::min<long long>(left, kInputPollMs));
            if (stopEvent_ != nullptr && ::WaitForSingleObject(stopEvent_, step) == WAIT_OBJECT_0) {
                return InputWait::Stopped;
            }
            if (stopEvent_ == nullptr) ::Sleep(step);
        }
    }

    SerialTransfer Read(char* buffer, std::size_t size) override {
        return Transfer(true, buffer, size,
                        Budget(timeouts_.readTotalPerByte, timeouts_.readTotalConstant, size));
    }

private:
    static DWORD Budget(int perByte, int constant, std::size_t size) {
        return static_cast<DWORD>(perByte) * static_cast<DWORD>(size) +
               static_cast<DWORD>(constant);
    }

    static SerialTransfer Failed(DWORD count, DWORD error) {
        SerialTransfer t;
        t.count = count;
        t.error = static_cast<int>(error);
        t.deviceGone = IsWin32DeviceGoneError(error);
        return t;
    }

    // One overlapped ReadFile or WriteFile; the port's time-outs end it, the stop
    // event cuts it short.
    SerialTransfer Transfer(bool read, char* data, std::size_t size, DWORD budgetMs) {
        OVERLAPPED io{};
        io.hEvent = ioEvent_;
        ::ResetEvent(ioEvent_);
        const DWORD asked = static_cast<DWORD>(size);
        const BOOL started = read ? ::ReadFile(port_, data, asked, nullptr, &io)
                                  : ::WriteFile(port_, data, asked, nullptr, &io);
        if (!started && ::GetLastError() != ERROR_IO_PENDING) return Failed(0, ::GetLastError());

        const HANDLE waits[2] = {ioEvent_, stopEvent_};
        const DWORD waitCount = stopEvent_ != nullptr ? 2 : 1;
        const DWORD woke =
            ::WaitForMultipleObjects(waitCount, waits, FALSE, budgetMs + kDriverGraceMs);
        DWORD count = 0;
        if (woke != WAIT_OBJECT_0) {
            // The buffer and `io` live on this stack: the cancelled call must be
            // finished before they go.
            ::CancelIoEx(port_, &io);
            ::GetOverlappedResult(port_, &io, &count, TRUE);
            SerialTransfer t;
            t.count = count;
            t.error = woke == WAIT_OBJECT_0 + 1 ? ERROR_OPERATION_ABORTED : ERROR_TIMEOUT;
            return t;  // our own cancel: the device is fine
        }
        if (!::GetOverlappedResult(port_, &io, &count, FALSE)) {
            return Failed(count, ::GetLastError());
        }
        if (count < asked) {
            SerialTransfer t;
            t.count = count;
            t.error = ERROR_TIMEOUT;
            return t;
        }
        SerialTransfer t;
        t.count = count;
        return t;
    }

    HANDLE port_;
    HANDLE ioEvent_;    // the overlapped calls' completion event, ours
    HANDLE stopEvent_;  // the StopSignal's, which outlives the device
    SerialTimeouts timeouts_;
};

SerialOpenResult Fail(LinkStage stage, DWORD error, HANDLE port, HANDLE ioEvent) {
    if (port != INVALID_HANDLE_VALUE) ::CloseHandle(port);
    if (ioEvent != nullptr) ::CloseHandle(ioEvent);
    SerialOpenResult r;
    r.stage = stage;
    r.error = static_cast<int>(error);
    return r;
}

}  // namespace

void ApplyLinkSettings(DCB& dcb) {
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;  // Windows knows no other mode
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
}

COMMTIMEOUTS LinkTimeouts(const SerialTimeouts& timeouts) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = static_cast<DWORD>(timeouts.readInterval);
    t.ReadTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.readTotalPerByte);
    t.ReadTotalTimeoutConstant = static_cast<DWORD>(timeouts.readTotalConstant);
    t.WriteTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.writeTotalPerByte);
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(timeouts.writeTotalConstant);
    return t;
}

std::string Win32DeviceName(const std::string& path) {
    if (path.find_first_of("\\/") != std::string::npos) return path;
    return "\\\\.\\" + path;
}

bool IsWin32DeviceGoneError(unsigned long error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_OPERATION_ABORTED:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case kErrorNoSuchDevice:
        case ERROR_INVALID_HANDLE:
            return true;
        default:
            return false;
    }
}

std::unique_ptr<SerialOpener> MakeNativeSerialOpener() {
    return std::make_unique<Win32SerialOpener>();
}

SerialOpenResult Win32SerialOpener::Open(const std::string& path, const StopSignal& stop) {
    const HANDLE ioEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ioEvent == nullptr)
        return Fail(LinkStage::Open, ::GetLastError(), INVALID_HANDLE_VALUE, nullptr);
    // Overlapped, unlike the synchronous port of old: only so can a stop request
    // end a waiting read at once.
    const HANDLE port = ::CreateFileA(Win32DeviceName(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) return Fail(LinkStage::Open, ::GetLastError(), port, ioEvent);

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) {
        return Fail(LinkStage::ReadSettings, ::GetLastError(), port, ioEvent);
    }
    ApplyLinkSettings(dcb);
    if (!::SetCommState(port, &dcb)) {
        return Fail(LinkStage::ApplySettings, ::GetLastError(), port, ioEvent);
    }
    COMMTIMEOUTS timeouts = LinkTimeouts(timeouts_);
    if (!::SetCommTimeouts(port, &timeouts)) {
        return Fail(LinkStage::ApplyTimeouts, ::GetLastError(), port, ioEvent);
    }

    SerialOpenResult r;
    r.device =
        std::make_unique<Win32Device>(port, ioEvent, static_cast<HANDLE>(stop.Handle()), timeouts_);
    r.stage = LinkStage::None;
    return r;
}

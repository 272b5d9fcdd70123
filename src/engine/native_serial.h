#pragma once
// The serial opener of the platform the program is built for: the termios device
// on Linux, the Win32 COM port on Windows (CMake builds one of the two).
//
// Thread rules: as the opener returned (see serial_device_posix.h, serial_device_win32.h).

#include <memory>

#include "engine/serial_device.h"

[[nodiscard]] std::unique_ptr<SerialOpener> MakeNativeSerialOpener();

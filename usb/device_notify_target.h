// Where device notifications would be sent. Nothing in the system sets a
// recipient, so no registration is ever made; the record exists for the
// manager's RegDeviceNotification.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct DeviceNotifyTarget {
    HANDLE recipient;
    HDEVNOTIFY notificationHandle;
    std::uint32_t recipientIsWindow;
};

// The process-wide record, zero-initialised.
extern DeviceNotifyTarget deviceNotifyTarget;

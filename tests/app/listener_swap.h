// Points the process-wide manager at another listener for one test.
#pragma once

#include "usb/usb_listener.h"

// The member is the manager's own, reached the way a derived class may.
class ListenerSwap : public QUILL::UsbManager {
  public:
    explicit ListenerSwap(QUILL::IUsbListener* replacement) : saved(usbListener.*Member()) {
        usbListener.*Member() = replacement;
    }
    ~ListenerSwap() { usbListener.*Member() = saved; }

  private:
    static QUILL::IUsbListener* QUILL::UsbManager::*Member() { return &ListenerSwap::listener; }
    QUILL::IUsbListener* saved;
};

// The host backend's tests run under umockdev's preload library, which
// emulates the machine's USB for libusb.
#include <gtest/gtest.h>

#include <csignal>

#include "tests/host_usb/emulated_usb.h"

int main(int argc, char** argv) {
    emulated_usb::RunUnderUmockdev(argc, argv);
    // A session leader gets a device node (a pseudo-terminal) as its
    // controlling terminal when libusb opens it, and a hang-up at unplugging.
    std::signal(SIGHUP, SIG_IGN);
    emulated_usb::StartBus();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// How virtual devices are listed for a program, and how they are named.
#include <gtest/gtest.h>

#include "platform/virtual_cutter_names.h"

namespace {

TEST(VirtualDeviceEntry, FieldsAndAReceivingFileThatHasColonsOfItsOwn) {
    platform::VirtualDeviceEntry entry;
    ASSERT_TRUE(platform::ParseVirtualDeviceEntry("2E7A:4C05:00b7:3:C:\\jobs\\out.plt", &entry));
    EXPECT_EQ(entry.vendorId, 0x2E7A);
    EXPECT_EQ(entry.productId, 0x4C05);
    EXPECT_EQ(entry.serial, "00b7");
    EXPECT_EQ(entry.port, "3");
    EXPECT_EQ(entry.receiveFile, "C:\\jobs\\out.plt");

    ASSERT_TRUE(platform::ParseVirtualDeviceEntry("2E7A:4C01::1", &entry));
    EXPECT_EQ(entry.serial, "");
    EXPECT_EQ(entry.receiveFile, "");
}

TEST(VirtualDeviceEntry, EntriesWithoutAPortAreRefused) {
    platform::VirtualDeviceEntry entry;
    EXPECT_FALSE(platform::ParseVirtualDeviceEntry("2E7A:4C01:0001", &entry));
    EXPECT_FALSE(platform::ParseVirtualDeviceEntry("2E7A:4C01:0001:", &entry));
    EXPECT_FALSE(platform::ParseVirtualDeviceEntry("", &entry));
}

TEST(UsbNames, InstanceIdAndInterfacePathAsWindowsWritesThem) {
    const std::string id = platform::UsbInstanceId(0x2E7A, 0x4C01, "00a1b2");
    EXPECT_EQ(id, "USB\\VID_2E7A&PID_4C01\\00A1B2");
    EXPECT_EQ(platform::UsbInterfacePath(id, L"#{guid}"),
              L"\\\\?\\usb#vid_2e7a&pid_4c01#00a1b2#{guid}");
}

}  // namespace

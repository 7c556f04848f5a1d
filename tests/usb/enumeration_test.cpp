// Enumeration passes over the virtual bus, the cutter filter and the
// connected-cutter map, with every failure a pass can meet.
#include <gtest/gtest.h>

#include "log/exception.h"
#include "platform/emu/control.h"
#include "platform/emu/buses/virtual/virtual_usb.h"
#include "tests/support/deadline.h"
#include "tests/support/log_watch.h"
#include "usb/usb_listener.h"

namespace {

const std::string kInit = "void __thiscall QUILL::UsbManager::Init(bool) - ";
const std::string kGetDevice =
    "class QUILL::UsbDevice *__thiscall QUILL::UsbManager::GetDevice(void *,struct "
    "_SP_DEVINFO_DATA *,struct _SP_DEVICE_INTERFACE_DATA *) - ";

emu::VirtualDeviceConfig Cutter(const std::string& port, const std::string& serial,
                                USHORT product = 0x4C01) {
    emu::VirtualDeviceConfig config;
    config.productId = product;
    config.serial = serial;
    config.locationPaths = {emu::PortLocationPath(port),
                            "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS0" + port + ")"};
    return config;
}

std::string Key(const std::string& port) {
    return emu::PortLocationPath(port);
}

class Enumeration : public testing::Test {
  protected:
    void TearDown() override {
        emu::ClearFaults();
        emu::UnplugAll();
    }

    // "?serial" stands for the key of a cutter whose port is unknown.
    std::vector<std::string> Keys() const {
        std::vector<std::string> keys;
        for (const auto& entry : listener.connectedCutters) {
            const bool unknownPort = entry.first[0] == UsbListener::kUnknownPortMark;
            keys.push_back(unknownPort ? "?" + std::to_string(entry.second->serialNumber)
                                       : entry.first);
        }
        return keys;
    }

    void Refresh() {
        listener.connectedCutters.clear();
        listener.Init(false);
    }

    // A pass that never ends fails the test here, not at ctest's timeout.
    const Deadline deadline{"an enumeration test, its passes included", std::chrono::seconds(20)};
    LogWatch log;
    UsbListener listener;
};

TEST_F(Enumeration, NoDevicePresentGivesNothingAndLogsNothing) {
    listener.Init(false);
    EXPECT_TRUE(listener.connectedCutters.empty());
    EXPECT_EQ(log.NewRecords(), "");
}

TEST_F(Enumeration, OnlyCuttersOfTheModelTableAreTaken) {
    emu::VirtualDeviceConfig otherVendor = Cutter("1", "01");
    otherVendor.vendorId = 0x1234;
    emu::PlugIn(otherVendor);
    emu::PlugIn(Cutter("2", "02", 0x4C03));  // the vendor's, but no cutter
    emu::PlugIn(Cutter("3", "03", 0));
    emu::PlugIn(Cutter("4", "04", 0x4C08));
    listener.Init(false);
    EXPECT_EQ(Keys(), std::vector<std::string>{Key("4")});
    EXPECT_EQ(log.NewRecords(), "");

    EXPECT_TRUE(listener.IsSupported(0x2E7A, 0x4C01));
    EXPECT_FALSE(listener.IsSupported(0x2E7A, 0x4C03));
    EXPECT_FALSE(listener.IsSupported(0x2E7A, 0));
    EXPECT_FALSE(listener.IsSupported(0x2E7B, 0x4C01));
}

TEST_F(Enumeration, CuttersAreKeptInLocationPathOrderWithTheirIdentity) {
    emu::PlugIn(Cutter("3", "00ABC"));
    emu::PlugIn(Cutter("1", "5&2A3B4C5D&0&1"));
    listener.Init(false);
    ASSERT_EQ(Keys(), (std::vector<std::string>{Key("1"), Key("3")}));
    const auto& first = *listener.connectedCutters.begin()->second;
    EXPECT_EQ(first.vendorId, 0x2E7A);
    EXPECT_EQ(first.productId, 0x4C01);
    EXPECT_EQ(first.serialNumber, 5u);
    EXPECT_EQ(listener.connectedCutters.rbegin()->second->serialNumber, 0xABCu);
    // Enumeration leaves the map as the devices' only owner.
    EXPECT_EQ(listener.connectedCutters.begin()->second.use_count(), 1);
}

TEST_F(Enumeration, RefreshFollowsUnpluggingAndPlugging) {
    auto first = emu::PlugIn(Cutter("1", "01"));
    listener.Init(false);
    emu::Unplug(first);
    Refresh();
    EXPECT_TRUE(listener.connectedCutters.empty());
    emu::PlugIn(Cutter("2", "02"));
    Refresh();
    EXPECT_EQ(Keys(), std::vector<std::string>{Key("2")});
}

TEST_F(Enumeration, ArrivalUnderAKnownKeyReplacesAndReleasesTheOldDevice) {
    emu::PlugIn(Cutter("1", "01"));
    listener.Init(false);
    std::weak_ptr<QUILL::UsbDevice> old = listener.connectedCutters.at(Key("1"));
    listener.Init(false);  // a pass without clearing brings a fresh object
    EXPECT_EQ(listener.connectedCutters.size(), 1u);
    EXPECT_TRUE(old.expired());
}

TEST_F(Enumeration, RemovalOfAnUnknownKeyChangesNothing) {
    emu::PlugIn(Cutter("1", "01"));
    listener.Init(false);
    auto stranger = std::make_shared<QUILL::UsbDevice>(listener.ioService);
    listener.OnRemoval(stranger);  // no location paths, no interface path
    EXPECT_EQ(listener.connectedCutters.size(), 1u);
    listener.OnRemoval(listener.connectedCutters.begin()->second);
    EXPECT_TRUE(listener.connectedCutters.empty());
}

TEST_F(Enumeration, DeliveredCuttersCanBeOpened) {
    auto cutter = emu::PlugIn(Cutter("1", "01"));
    listener.Init(false);
    auto& device = *listener.connectedCutters.begin()->second;
    device.AsyncOpen();
    EXPECT_TRUE(device.IsOpen());
    device.Close();
    EXPECT_EQ(cutter->OpenHandles(), 0);
}

TEST_F(Enumeration, UnobtainableDeviceListIsLoggedAndThrown) {
    emu::FailCall("SetupDiGetClassDevsW", 1, ERROR_ACCESS_DENIED);
    try {
        listener.Init(false);
        FAIL() << "no exception";
    } catch (const QUILL::Exception& error) {
        EXPECT_STREQ(error.what(), "SetupDiGetClassDevs failed (5)");
    }
    const std::string records = log.NewRecords();
    EXPECT_NE(records.find("[error]: " + kInit + "SetupDiGetClassDevs failed (5)\r\n"),
              std::string::npos)
        << records;
}

// One failure injected into one call; what the pass then logs and delivers.
struct FailureCase {
    const char* function;
    unsigned long nth;
    DWORD error;
    std::string record;
    std::vector<std::string> delivered;
};

TEST_F(Enumeration, EachFailureIsLoggedAndThePassGoesOn) {
    const std::vector<FailureCase> cases = {
        {"SetupDiEnumDeviceInfo",
         2,
         ERROR_GEN_FAILURE,
         "[warning]: " + kInit + "SetupDiEnumDeviceInfo failed (31)",
         {Key("1")}},
        {"SetupDiEnumDeviceInterfaces",
         1,
         ERROR_GEN_FAILURE,
         "[warning]: " + kInit + "SetupDiEnumDeviceInterfaces failed (31)",
         {Key("2")}},
        // No interface: not reported there, identification then fails.
        {"SetupDiEnumDeviceInterfaces",
         1,
         ERROR_NO_MORE_ITEMS,
         "[warning]: " + kGetDevice + "SetupDiGetDeviceInterfaceDetail failed (87)",
         {Key("2")}},
        {"SetupDiGetDeviceInterfaceDetailW",
         1,
         ERROR_GEN_FAILURE,
         "[warning]: " + kGetDevice + "SetupDiGetDeviceInterfaceDetail failed (31)",
         {Key("2")}},
        {"SetupDiGetDeviceInstanceIdA",
         1,
         ERROR_GEN_FAILURE,
         "[error]: " + kGetDevice + "SetupDiGetDeviceInstanceId failed (31)",
         {Key("2")}},
        {"SetupDiGetDeviceInterfaceDetailW",
         2,
         ERROR_GEN_FAILURE,
         "[error]: " + kGetDevice + "SetupDiGetDeviceInterfaceDetail failed (31)",
         {Key("2")}},
        {"LocalAlloc",
         1,
         ERROR_NOT_ENOUGH_MEMORY,
         "[error]: " + kGetDevice + "LocalAlloc failed (8)",
         {Key("2")}},
        // Location paths unreadable: delivered, after the cutters whose port is known.
        {"SetupDiGetDeviceRegistryPropertyA",
         1,
         ERROR_GEN_FAILURE,
         "[warning]: " + kGetDevice + "SetupDiGetDeviceRegistryProperty (1) failed (31)",
         {Key("2"), "?1"}},
        {"SetupDiGetDeviceRegistryPropertyA",
         1,
         ERROR_INSUFFICIENT_BUFFER,
         "[warning]: " + kGetDevice + "SetupDiGetDeviceRegistryProperty failed to get size needed",
         {Key("2"), "?1"}},
        {"SetupDiGetDeviceRegistryPropertyA",
         2,
         ERROR_GEN_FAILURE,
         "[error]: " + kGetDevice + "SetupDiGetDeviceRegistryProperty failed (31)",
         {Key("2"), "?1"}},
    };
    emu::PlugIn(Cutter("1", "01"));
    emu::PlugIn(Cutter("2", "02"));
    for (const FailureCase& c : cases) {
        const std::size_t blocks = emu::LiveLocalBlocks();
        emu::ClearFaults();
        emu::FailCall(c.function, c.nth, c.error);
        Refresh();
        EXPECT_EQ(Keys(), c.delivered) << c.record;
        const std::string records = log.NewRecords();
        EXPECT_EQ(records.substr(std::min<std::size_t>(20, records.size())), c.record + "\r\n")
            << c.record;
        listener.connectedCutters.clear();
        EXPECT_EQ(emu::LiveLocalBlocks(), blocks) << c.record;
    }
}

TEST_F(Enumeration, GetDeviceFindsTheElementItselfWithoutDeviceInfo) {
    emu::PlugIn(Cutter("1", "00FF"));
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_DEVICE, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USB_DEVICE, 0,
                                            &interfaceData));
    auto device = listener.GetDevice(set, nullptr, &interfaceData);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->serialNumber, 0xFFu);
    EXPECT_EQ(std::string(device->locationPaths.get()), Key("1"));
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(Enumeration, NotificationRegistrationWithoutRecipientIsLoggedAndThrown) {
    EXPECT_THROW(listener.RegDeviceNotification(), QUILL::Exception);
    EXPECT_NE(log.NewRecords().find("[error]: void __thiscall "
                                    "QUILL::UsbManager::RegDeviceNotification(void) - "
                                    "RegisterDeviceNotification failed (6)\r\n"),
              std::string::npos);
}

TEST_F(Enumeration, CuttersWhosePortsAreUnknownAreKeptApartInAStableOrder) {
    emu::VirtualDeviceConfig first = Cutter("1", "0B");
    emu::VirtualDeviceConfig second = Cutter("2", "0A");
    first.locationPaths.clear();  // the property cannot be read
    second.locationPaths = {""};  // read, but empty
    emu::PlugIn(first);
    emu::PlugIn(second);
    emu::PlugIn(Cutter("3", "0C"));
    Refresh();
    const std::vector<std::string> keys = Keys();
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0], Key("3"));
    Refresh();  // a second pass lists them in the same order
    EXPECT_EQ(Keys(), keys);
    // Each key names its own cutter: removal takes only that one.
    auto last = std::prev(listener.connectedCutters.end())->second;
    listener.OnRemoval(last);
    EXPECT_EQ(listener.connectedCutters.size(), 2u);
}

// Run under AddressSanitizer: the key must not be read past the property's
// last byte.
TEST_F(Enumeration, LocationPathWithoutItsTerminatingZerosIsReadWithinItsBlock) {
    emu::VirtualDeviceConfig config = Cutter("1", "01");
    config.locationPaths = {Key("1")};
    config.unterminatedLocationPaths = true;
    emu::PlugIn(config);
    Refresh();
    EXPECT_EQ(Keys(), std::vector<std::string>{Key("1")});
}

}  // namespace

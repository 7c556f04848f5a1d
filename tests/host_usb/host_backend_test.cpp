// The host backend through the Windows functions the program calls:
// SetupAPI's listing, CreateFileW, WinUSB and completions on the port, with
// emulated devices behind libusb.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/emu/control.h"
#include "platform/emu/faults.h"
#include "platform/emu/buses/host/host_usb.h"
#include "platform/win32.h"
#include "resources/resource.h"
#include "tests/host_usb/emulated_usb.h"
#include "tests/host_usb/without_file_override.h"
#include "tests/support/deadline.h"

namespace {

using emulated_usb::DeviceConfig;

constexpr wchar_t kCutterPath[] =
    L"\\\\?\\usb#vid_2e7a&pid_4c01#0001a2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

struct Listed {
    std::string instanceId;
    std::wstring path;
    std::string location;
};

std::vector<Listed> List() {
    std::vector<Listed> listed;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_DEVICE, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    for (DWORD i = 0;; ++i) {
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        if (!SetupDiEnumDeviceInfo(set, i, &info)) break;
        SP_DEVICE_INTERFACE_DATA interface {};
        interface.cbSize = sizeof interface;
        SetupDiEnumDeviceInterfaces(set, &info, &GUID_DEVINTERFACE_USB_DEVICE, 0, &interface);
        std::vector<unsigned char> detailBytes(1024);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBytes.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SetupDiGetDeviceInterfaceDetailW(set, &interface, detail, 1024, nullptr, nullptr);
        char id[256] = {};
        SetupDiGetDeviceInstanceIdA(set, &info, id, sizeof id, nullptr);
        char location[512] = {};
        SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_LOCATION_PATHS, nullptr,
                                          reinterpret_cast<PBYTE>(location), sizeof location,
                                          nullptr);
        listed.push_back({id, detail->DevicePath, location});
    }
    SetupDiDestroyDeviceInfoList(set);
    // In port order: libusb's own order depends on when it started.
    std::sort(listed.begin(), listed.end(),
              [](const Listed& a, const Listed& b) { return a.location < b.location; });
    return listed;
}

// An instance ID with the segment Windows makes up for a device without a
// usable serial, on `port` of its hub.
bool Generated(const std::string& id, const char* vendor, const char* product, int port) {
    const std::regex shape(std::string("USB\\\\VID_") + vendor + "&PID_" + product +
                           "\\\\5&[0-9A-F]{8}&0&" + std::to_string(port));
    return std::regex_match(id, shape);
}

// A cutter opened as the program opens it, its writes completing on a port.
class OpenCutter {
  public:
    explicit OpenCutter(const wchar_t* path = kCutterPath) {
        file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        openError = GetLastError();
        if (file == INVALID_HANDLE_VALUE) return;
        port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
        CreateIoCompletionPort(file, port, 7, 0);
        initialized = WinUsb_Initialize(file, &winusb) != FALSE;
        initError = initialized ? 0 : GetLastError();
    }
    ~OpenCutter() {
        if (winusb != nullptr) WinUsb_Free(winusb);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (port != nullptr) CloseHandle(port);
    }

    // Starts a write of `size` bytes to pipe 0x02; the last error it left.
    DWORD Start(std::size_t size) {
        chunk.assign(size, 0);
        for (std::size_t i = 0; i < size; ++i) chunk[i] = static_cast<unsigned char>(i * 7);
        overlapped = OVERLAPPED{};
        WinUsb_WritePipe(winusb, 0x02, chunk.data(), static_cast<ULONG>(size), nullptr,
                         &overlapped);
        return GetLastError();
    }

    // The completion's error (0 for success) and byte count; fails the test
    // when nothing arrives within `limit` milliseconds.
    DWORD Finish(DWORD* bytes, DWORD limit = 5000) {
        ULONG_PTR key = 0;
        LPOVERLAPPED done = nullptr;
        const BOOL ok = GetQueuedCompletionStatus(port, bytes, &key, &done, limit);
        const DWORD error = ok ? 0 : GetLastError();
        EXPECT_EQ(done, &overlapped) << "no completion within " << limit << " ms";
        EXPECT_EQ(key, 7u);
        return error;
    }

    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE port = nullptr;
    WINUSB_INTERFACE_HANDLE winusb = nullptr;
    DWORD openError = 0;
    bool initialized = false;
    DWORD initError = 0;
    std::vector<unsigned char> chunk;
    OVERLAPPED overlapped{};
};

class HostBackend : public testing::Test {
  protected:
    void TearDown() override { emulated_usb::UnplugAll(); }

    const Deadline deadline{"a host backend test", std::chrono::seconds(60)};

    // Lists `cutter`, makes it take nothing, opens it into `open` and leaves
    // one 1024-byte write in flight to it.
    void StartWriteInFlight(emulated_usb::Device& cutter, std::unique_ptr<OpenCutter>* open) {
        cutter.StopReading(true);
        List();
        *open = std::make_unique<OpenCutter>();
        ASSERT_TRUE((*open)->initialized) << (*open)->openError;
        (*open)->Start(1024);
        ASSERT_TRUE(cutter.WaitForWrites(1, std::chrono::seconds(5)));
    }
};

// First in the file: libusb starts at the first listing of the process.
TEST_F(HostBackend, LibusbThatFailedToStartIsStartedAgainAtTheNextListing) {
    emulated_usb::Plug(DeviceConfig{});
    emu::FailCall("libusb_init", 1, ERROR_GEN_FAILURE);
    const auto failed = List();
    emu::ClearFaults();
    EXPECT_EQ(failed.size(), 0u);
    EXPECT_EQ(List().size(), 1u);
}

TEST_F(HostBackend, ListsEachDeviceWithItsInstanceIdPathAndPortButNotTheRootHub) {
    DeviceConfig other;
    other.vendorId = 0x1234;
    other.productId = 0x5678;
    other.serial = "AB,1";  // not usable as an instance segment
    other.port = 4;
    auto phone = emulated_usb::Plug(other);
    emulated_usb::Plug(DeviceConfig{});
    const auto listed = List();
    EXPECT_EQ(phone->ControlRequests(), 0);  // named from what the kernel read
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].instanceId, "USB\\VID_2E7A&PID_4C01\\0001A2");
    EXPECT_EQ(listed[0].path, kCutterPath);
    EXPECT_EQ(listed[0].location, "PCIROOT(0)#PCI(1400)#USBROOT(1)#USB(1)");
    EXPECT_TRUE(Generated(listed[1].instanceId, "1234", "5678", 4)) << listed[1].instanceId;
    EXPECT_EQ(listed[1].location, "PCIROOT(0)#PCI(1400)#USBROOT(1)#USB(4)");
}

// Windows' made-up segment: the hub's part, then the port; the same again
// when the device comes back to its port.
TEST_F(HostBackend, DeviceWithoutSerialGetsAGeneratedSegmentOfItsPort) {
    DeviceConfig config;
    config.serial.clear();
    config.port = 3;
    DeviceConfig beside = config;
    beside.port = 4;
    emulated_usb::Plug(config);
    auto other = emulated_usb::Plug(beside);
    const auto listed = List();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_TRUE(Generated(listed[0].instanceId, "2E7A", "4C01", 3)) << listed[0].instanceId;
    EXPECT_TRUE(Generated(listed[1].instanceId, "2E7A", "4C01", 4)) << listed[1].instanceId;
    EXPECT_EQ(listed[0].instanceId.substr(0, 33), listed[1].instanceId.substr(0, 33)) << "one hub";
    emulated_usb::Unplug(other);
    emulated_usb::Plug(beside);
    EXPECT_EQ(List().at(1).instanceId, listed[1].instanceId);
}

TEST_F(HostBackend, DeviceAtAReusedAddressIsListedWithItsOwnSerial) {
    DeviceConfig first;
    first.address = 9;
    first.serial = "1A2";
    emulated_usb::Unplug(emulated_usb::Plug(first));
    ASSERT_EQ(List().size(), 0u);
    emulated_usb::Plug(first);
    ASSERT_EQ(List().size(), 1u);
    emulated_usb::UnplugAll();
    DeviceConfig second = first;
    second.serial = "1A3";
    emulated_usb::Plug(second);
    const auto listed = List();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].instanceId, "USB\\VID_2E7A&PID_4C01\\1A3");
}

// Two cutters with one serial: the one on the lower port keeps it, whatever
// order they were plugged in.
TEST_F(HostBackend, DuplicateSerialsAreNamedInPortOrder) {
    DeviceConfig high;
    high.port = 5;
    DeviceConfig low;
    low.port = 2;
    emulated_usb::Plug(high);
    emulated_usb::Plug(low);
    const auto listed = List();
    ASSERT_EQ(listed.size(), 2u);
    for (const Listed& device : listed) {
        const bool lower = device.location == "PCIROOT(0)#PCI(1400)#USBROOT(1)#USB(2)";
        EXPECT_EQ(device.instanceId == "USB\\VID_2E7A&PID_4C01\\0001A2", lower)
            << device.instanceId << " at " << device.location;
    }
}

// Without the kernel's copy only a cutter is asked, once; one that does not
// answer gets a generated segment.
TEST_F(HostBackend, CutterWithoutSysfsSerialIsAskedOnce) {
    DeviceConfig answers;
    answers.serialInSysfs = false;
    DeviceConfig silent = answers;
    silent.strings = DeviceConfig::Strings::Silent;
    silent.port = 2;
    DeviceConfig phone = answers;
    phone.vendorId = 0x1234;
    phone.port = 3;
    auto cutter = emulated_usb::Plug(answers);
    auto mute = emulated_usb::Plug(silent);
    auto other = emulated_usb::Plug(phone);
    List();
    std::vector<std::string> ids;
    for (const Listed& device : List()) ids.push_back(device.instanceId);
    std::sort(ids.begin(), ids.end());
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_TRUE(Generated(ids[0], "1234", "4C01", 3)) << ids[0];
    EXPECT_EQ(ids[1], "USB\\VID_2E7A&PID_4C01\\0001A2");
    EXPECT_TRUE(Generated(ids[2], "2E7A", "4C01", 2)) << ids[2];
    EXPECT_EQ(cutter->ControlRequests(), 1);
    EXPECT_EQ(mute->ControlRequests(), 1);
    EXPECT_EQ(other->ControlRequests(), 0);
}

// One rule for the kernel's copy and the device's own answer: a serial that
// is not plain ASCII (accented, cut by a NUL) gives one instance ID whether
// the user may open the device or not, and whether sysfs has it or not.
TEST_F(HostBackend, SerialGivesOneInstanceIdFromEitherSource) {
    const std::string accented = "12\xC3\xA9";
    const std::string cut(
        "12\0"
        "34",
        5);
    for (const std::string& serial : {accented, cut}) {
        std::vector<std::string> ids;
        for (int way = 0; way < 3; ++way) {
            DeviceConfig config;
            config.serial = serial;
            config.serialInSysfs = way != 2;
            config.accessible = way != 1;
            auto cutter = emulated_usb::Plug(config);
            std::optional<WithoutFileOverride> asUser;
            if (way == 1) asUser.emplace();
            const auto listed = List();
            asUser.reset();
            EXPECT_EQ(listed.size(), 1u);
            ids.push_back(listed.empty() ? "" : listed[0].instanceId);
            emulated_usb::Unplug(cutter);
        }
        EXPECT_EQ(ids, std::vector<std::string>(3, ids[0]));
    }
}

TEST_F(HostBackend, WriteCompletesOnThePortWithItsBytes) {
    auto cutter = emulated_usb::Plug(DeviceConfig{});
    List();
    OpenCutter open;
    ASSERT_TRUE(open.initialized) << open.openError;
    EXPECT_EQ(open.Start(1024), static_cast<DWORD>(ERROR_IO_PENDING));
    DWORD bytes = 0;
    EXPECT_EQ(open.Finish(&bytes), 0u);
    EXPECT_EQ(bytes, 1024u);
    EXPECT_EQ(cutter->Received(), open.chunk);
}

TEST_F(HostBackend, PipesComeFromTheActiveConfiguration) {
    emulated_usb::Plug(DeviceConfig{});
    List();
    OpenCutter open;
    ASSERT_TRUE(open.initialized) << open.openError;
    USB_INTERFACE_DESCRIPTOR descriptor{};
    ASSERT_TRUE(WinUsb_QueryInterfaceSettings(open.winusb, 0, &descriptor));
    EXPECT_EQ(descriptor.bNumEndpoints, 2);
    EXPECT_EQ(descriptor.bInterfaceClass, 7);
    WINUSB_PIPE_INFORMATION in{}, out{}, none{};
    ASSERT_TRUE(WinUsb_QueryPipe(open.winusb, 0, 0, &in));
    ASSERT_TRUE(WinUsb_QueryPipe(open.winusb, 0, 1, &out));
    EXPECT_EQ(in.PipeId, 0x81);
    EXPECT_EQ(out.PipeId, 0x02);
    EXPECT_EQ(out.PipeType, UsbdPipeTypeBulk);
    EXPECT_EQ(out.MaximumPacketSize, 64);
    EXPECT_FALSE(WinUsb_QueryPipe(open.winusb, 0, 2, &none));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_FALSE(WinUsb_QueryInterfaceSettings(open.winusb, 1, &descriptor));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
}

// The bytes a cutter took before it stalled are counted.
TEST_F(HostBackend, StallCompletesWithGenFailureAndWhatWasTaken) {
    auto cutter = emulated_usb::Plug(DeviceConfig{});
    cutter->StallWrite(1);
    cutter->StallWrite(2, 512);
    List();
    OpenCutter open;
    ASSERT_TRUE(open.initialized) << open.openError;
    for (DWORD taken : {0u, 512u}) {
        open.Start(1024);
        DWORD bytes = 1;
        EXPECT_EQ(open.Finish(&bytes), static_cast<DWORD>(ERROR_GEN_FAILURE));
        EXPECT_EQ(bytes, taken);
    }
    EXPECT_EQ(cutter->ReceivedCount(), 512u);
}

// A write in flight ends with what the controller reported: the device was
// gone (22), or a transaction failed first (31).
TEST_F(HostBackend, UnpluggingCompletesTheWriteInFlightWithTheControllersError) {
    for (bool transactionError : {false, true}) {
        DeviceConfig config;
        config.transactionErrorOnUnplug = transactionError;
        auto cutter = emulated_usb::Plug(config);
        cutter->StopReading(true);
        List();
        OpenCutter open;
        ASSERT_TRUE(open.initialized) << open.openError;
        open.Start(1024);
        ASSERT_TRUE(cutter->WaitForWrites(1, std::chrono::seconds(5)));
        emulated_usb::Unplug(cutter);
        DWORD bytes = 1;
        EXPECT_EQ(open.Finish(&bytes),
                  static_cast<DWORD>(transactionError ? ERROR_GEN_FAILURE : ERROR_BAD_COMMAND));
        EXPECT_EQ(bytes, 0u);
    }
}

// CloseHandle alone, the interface handle not freed first.
TEST_F(HostBackend, ClosingTheHandleCancelsTheWriteInFlight) {
    auto cutter = emulated_usb::Plug(DeviceConfig{});
    std::unique_ptr<OpenCutter> open;
    ASSERT_NO_FATAL_FAILURE(StartWriteInFlight(*cutter, &open));
    EXPECT_TRUE(CloseHandle(open->file));
    open->file = INVALID_HANDLE_VALUE;
    DWORD bytes = 1;
    EXPECT_EQ(open->Finish(&bytes), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(cutter->PendingWrites(), 0);
}

// CancelIoEx, as the write service's cancel calls it: the write ends as
// aborted and the handle stays open; with nothing left in flight it fails.
TEST_F(HostBackend, CancelIoExEndsTheWriteInFlightAndThenFindsNone) {
    auto cutter = emulated_usb::Plug(DeviceConfig{});
    std::unique_ptr<OpenCutter> open;
    ASSERT_NO_FATAL_FAILURE(StartWriteInFlight(*cutter, &open));
    EXPECT_TRUE(CancelIoEx(open->file, nullptr)) << GetLastError();
    DWORD bytes = 1;
    EXPECT_EQ(open->Finish(&bytes), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(bytes, 0u);
    SetLastError(0);
    EXPECT_FALSE(CancelIoEx(open->file, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
}

// The cancelled write stays with the host controller: closing gives up on it
// after its drain limit (5 s) instead of hanging, and the write completes.
TEST_F(HostBackend, ClosingEndsAWriteWhoseCancelNeverComesBack) {
    auto cutter = emulated_usb::Plug(DeviceConfig{});
    cutter->DelayDiscards(emulated_usb::Device::kNever);
    std::unique_ptr<OpenCutter> open;
    ASSERT_NO_FATAL_FAILURE(StartWriteInFlight(*cutter, &open));
    std::thread closer([&open] { EXPECT_TRUE(CloseHandle(open->file)); });
    DWORD bytes = 1;
    EXPECT_EQ(open->Finish(&bytes, 10000), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(bytes, 0u);
    closer.join();  // a hang ends the test at the fixture's deadline
    open->file = INVALID_HANDLE_VALUE;
    EXPECT_EQ(cutter->PendingWrites(), 0);  // killed when the interface was released
}

TEST_F(HostBackend, PrinterDriverIsDetachedWhileInitializedAndReattachedAfter) {
    DeviceConfig config;
    config.driver = "usblp";
    auto cutter = emulated_usb::Plug(config);
    List();
    {
        OpenCutter open;
        ASSERT_TRUE(open.initialized) << GetLastError();
        EXPECT_FALSE(cutter->DriverBound());
        EXPECT_EQ(cutter->Detaches(), 1);
    }
    EXPECT_TRUE(cutter->DriverBound());
}

// The printer driver lets one file open its node: while another program
// prints through it, the open fails as WinUSB's for a device in use, and
// the driver keeps the cutter; once it is closed the cutter opens.
TEST_F(HostBackend, PrinterNodeOpenElsewhereRefusesTheOpenAndKeepsTheDriver) {
    DeviceConfig config;
    config.driver = "usblp";
    auto cutter = emulated_usb::Plug(config);
    List();
    const int printing = ::open(cutter->PrinterNode().c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(printing, 0) << cutter->PrinterNode();
    {
        OpenCutter refused;
        EXPECT_EQ(refused.file, INVALID_HANDLE_VALUE);
        EXPECT_EQ(refused.openError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_TRUE(cutter->DriverBound());
    EXPECT_EQ(cutter->Detaches(), 0);
    ::close(printing);
    OpenCutter open;
    EXPECT_TRUE(open.initialized) << GetLastError();
}

// Windows gives WinUSB only a cutter's interface: one whose first setting
// has a bulk-out pipe, not held by another driver. Such a device keeps its
// driver.
TEST_F(HostBackend, InterfaceThatIsNotACuttersIsNotTaken) {
    DeviceConfig hid;
    hid.driver = "usbhid";
    DeviceConfig noBulkOut;
    noBulkOut.driver = "usblp";
    noBulkOut.bulkOut = false;
    for (const DeviceConfig& config : {hid, noBulkOut}) {
        auto device = emulated_usb::Plug(config);
        List();
        OpenCutter open;
        EXPECT_FALSE(open.initialized) << config.driver;
        EXPECT_EQ(open.initError, static_cast<DWORD>(ERROR_INVALID_FUNCTION)) << config.driver;
        EXPECT_TRUE(device->DriverBound()) << config.driver;
        EXPECT_EQ(device->Detaches(), 0) << config.driver;
        emulated_usb::Unplug(device);
    }
}

// WinUSB works in a device's first configuration; one the kernel left
// unconfigured, or switched to another, is not ready.
TEST_F(HostBackend, DeviceNotInItsFirstConfigurationIsNotReady) {
    DeviceConfig unconfigured;
    unconfigured.configured = false;
    DeviceConfig second;
    second.activeConfiguration = 2;
    for (const DeviceConfig& config : {unconfigured, second}) {
        auto device = emulated_usb::Plug(config);
        List();
        OpenCutter open;
        EXPECT_FALSE(open.initialized) << config.activeConfiguration;
        EXPECT_EQ(open.initError, static_cast<DWORD>(ERROR_NOT_READY))
            << config.activeConfiguration;
        emulated_usb::Unplug(device);
    }
}

TEST_F(HostBackend, DeviceNodeWithoutAccessGivesAccessDenied) {
    DeviceConfig config;
    config.accessible = false;
    emulated_usb::Plug(config);
    const WithoutFileOverride asUser;
    const auto listed = List();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].instanceId, "USB\\VID_2E7A&PID_4C01\\0001A2");  // read from sysfs
    OpenCutter open;
    EXPECT_EQ(open.file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open.openError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(HostBackend, UnknownPathIsNotFound) {
    emulated_usb::Plug(DeviceConfig{});
    OpenCutter open(L"\\\\?\\usb#vid_2e7a&pid_4c01#999#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    EXPECT_EQ(open.file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open.openError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace

namespace {

INT_PTR CALLBACK IgnoreAll(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// The next WM_DEVICECHANGE posted to this thread: its event and device
// path; event 0 when none came within 5 s.
std::pair<WPARAM, std::wstring> NextDeviceChange() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_DEVICECHANGE) continue;
            const auto* record =
                reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(message.lParam);
            return {message.wParam, record->dbcc_name};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return {0, L""};
}

TEST_F(HostBackend, RegisteredWindowHearsOfArrivalAndRemoval) {
    emu::UseScriptedDesktop();
    InitCommonControls();  // the dialog has a progress bar
    HWND window = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS),
                                     nullptr, IgnoreAll, 0);
    ASSERT_NE(window, nullptr);
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
    HDEVNOTIFY registration =
        RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ASSERT_NE(registration, nullptr);
    auto cutter = emulated_usb::Plug(DeviceConfig{});
    EXPECT_EQ(NextDeviceChange(),
              std::make_pair(WPARAM{DBT_DEVICEARRIVAL}, std::wstring(kCutterPath)));
    emulated_usb::Unplug(cutter);
    EXPECT_EQ(NextDeviceChange(),
              std::make_pair(WPARAM{DBT_DEVICEREMOVECOMPLETE}, std::wstring(kCutterPath)));
    EXPECT_TRUE(UnregisterDeviceNotification(registration));
    DestroyWindow(window);
}

}  // namespace

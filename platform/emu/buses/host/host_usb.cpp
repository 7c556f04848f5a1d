// The host's USB devices through libusb, shaped the way Windows shows them:
// SetupAPI's listing, the device file CreateFileW opens, WinUSB's interface
// and overlapped bulk writes that complete through the emulated port, and
// hotplug events as arrivals and removals.
//
// One thread runs libusb's event handling for the whole process. It sleeps
// in poll() while nothing happens, and every transfer callback and hotplug
// event arrives on it.
#include "platform/emu/buses/host/host_usb.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <cwctype>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/emu/faults.h"
#include "platform/emu/buses/host/host_usb_claim.h"
#include "platform/emu/buses/host/host_usb_listing.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/kernel32/devices.h"

namespace emu {

namespace {

// The Windows error code for a libusb call's result and for a finished
// transfer's status.
DWORD WindowsErrorOfLibusbCall(int libusbError) {
    switch (libusbError) {
        case LIBUSB_SUCCESS:
            return ERROR_SUCCESS;
        case LIBUSB_ERROR_INVALID_PARAM:
            return ERROR_INVALID_PARAMETER;
        case LIBUSB_ERROR_ACCESS:
            return ERROR_ACCESS_DENIED;
        case LIBUSB_ERROR_NO_DEVICE:
            return ERROR_BAD_COMMAND;  // what WinUSB says of a device that is gone
        case LIBUSB_ERROR_NOT_FOUND:
            return ERROR_NOT_FOUND;
        case LIBUSB_ERROR_BUSY:
            return ERROR_BUSY;
        case LIBUSB_ERROR_TIMEOUT:
            return ERROR_SEM_TIMEOUT;
        case LIBUSB_ERROR_INTERRUPTED:
            return ERROR_OPERATION_ABORTED;
        case LIBUSB_ERROR_NO_MEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return ERROR_NOT_SUPPORTED;
        default:  // I/O errors, stalls, babble and the rest
            return ERROR_GEN_FAILURE;
    }
}

DWORD WindowsErrorOfTransferStatus(int transferStatus) {
    switch (transferStatus) {
        case LIBUSB_TRANSFER_COMPLETED:
            return ERROR_SUCCESS;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return ERROR_SEM_TIMEOUT;
        case LIBUSB_TRANSFER_CANCELLED:
            return ERROR_OPERATION_ABORTED;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return ERROR_BAD_COMMAND;
        default:  // a stall, babble or a failed transaction
            return ERROR_GEN_FAILURE;
    }
}

// Closing a handle waits this long for its cancelled transfers to come back.
constexpr std::chrono::seconds kDrainLimit{5};

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return text;
}

class HostDeviceFile;

// The process's libusb context and its event thread; never torn down, as
// devices may be closed while the process exits.
class Host {
  public:
    // The process's one Host; null while libusb cannot start, which is
    // tried again at each call (the next listing, open or registration).
    static Host* Get() {
        static std::mutex starting;
        static Host* host = nullptr;
        std::lock_guard<std::mutex> lock(starting);
        if (host != nullptr) return host;
        libusb_context* context = nullptr;
        if (InjectedFailure("libusb_init") || libusb_init(&context) != LIBUSB_SUCCESS)
            return nullptr;
        host = new Host(context);
        return host;
    }

    libusb_context* Context() const { return context; }

    HostNames names;

    // Hands a hotplug event to the thread that names devices: naming may
    // ask a cutter, which the event thread cannot wait for.
    void Notify(std::function<void()> deliver) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!notifying) {
            notifying = true;
            std::thread([this] {
                DeliverNotifications();
            }).detach();  // lives as long as the process
        }
        notifications.push_back(std::move(deliver));
        notified.notify_all();
    }

    // Keeps a closed file's libusb handle open until its transfers have come
    // back: closing it under a transfer would lose the transfer.
    void Linger(std::shared_ptr<HostDeviceFile> file) {
        std::lock_guard<std::mutex> lock(mutex);
        lingering.push_back(std::move(file));
    }

  private:
    explicit Host(libusb_context* usb) : context(usb) {
        events = std::thread([this] { HandleEvents(); });
        events.detach();
    }

    // A failure that persists (the poll set broken, say) must not spin a
    // core: the pause doubles up to a second while it lasts.
    void HandleEvents() {
        std::chrono::milliseconds pause{0};
        for (;;) {
            const int result = libusb_handle_events(context);
            CloseIdle();
            if (result == LIBUSB_SUCCESS || result == LIBUSB_ERROR_INTERRUPTED) {
                pause = std::chrono::milliseconds(0);
                continue;
            }
            pause = std::min<std::chrono::milliseconds>(
                std::max<std::chrono::milliseconds>(pause * 2, std::chrono::milliseconds(10)),
                std::chrono::seconds(1));
            std::this_thread::sleep_for(pause);
        }
    }

    // On the event thread, between rounds of event handling: libusb_close
    // may not run inside a transfer's callback.
    void CloseIdle();

    void DeliverNotifications() {
        for (;;) {
            std::function<void()> deliver;
            {
                std::unique_lock<std::mutex> lock(mutex);
                notified.wait(lock, [this] { return !notifications.empty(); });
                deliver = std::move(notifications.front());
                notifications.pop_front();
            }
            deliver();
        }
    }

    std::mutex mutex;
    std::vector<std::shared_ptr<HostDeviceFile>> lingering;
    std::condition_variable notified;
    std::deque<std::function<void()>> notifications;
    bool notifying = false;

    libusb_context* context;
    std::thread events;
};

// One bulk write libusb has; `overlapped` is null once the closer gave up
// waiting for it and completed it itself.
struct PendingWrite {
    std::shared_ptr<HostDeviceFile> file;
    OVERLAPPED* overlapped;
};

// A device file. Its mutex guards the fields below it and is never held
// across a libusb call that may wait for the event thread, whose transfer
// callbacks take it.
class HostDeviceFile : public UsbDeviceFile, public std::enable_shared_from_this<HostDeviceFile> {
  public:
    HostDeviceFile(libusb_device_handle* opened, bool overlapped)
        : UsbDeviceFile(overlapped), handle(opened) {}

    // CloseHandle: ends the writes in flight, gives the interface back and
    // closes the libusb handle, or leaves that to the event thread when a
    // transfer has still not come back.
    bool Close(DWORD*) override {
        CancelAndDrain(true);
        ReleaseInterface();
        bool idle;
        {
            std::lock_guard<std::mutex> lock(mutex);
            idle = transfers.empty();
        }
        if (idle) {
            CloseHandleNow();
        } else {
            Host::Get()->Linger(shared_from_this());
        }
        return true;
    }

    // CancelIoEx: asks the host controller to end the writes in flight and
    // returns; each completes through the port as it comes back. A write
    // that is back, or completed by a closer, is no longer in flight.
    bool CancelIo(DWORD* error) override {
        std::lock_guard<std::mutex> lock(mutex);
        bool found = false;
        for (libusb_transfer* transfer : transfers) {
            if (static_cast<PendingWrite*>(transfer->user_data)->overlapped == nullptr) continue;
            libusb_cancel_transfer(transfer);
            found = true;
        }
        if (!found) *error = ERROR_NOT_FOUND;
        return found;
    }

    // Cancels the writes in flight and waits until each has completed
    // through the port; `closing` refuses new ones from now on. A write
    // not back by the limit is completed here as aborted, and its transfer
    // left to come back in its own time.
    void CancelAndDrain(bool closing) {
        std::vector<OVERLAPPED*> abandoned;
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (closing) closed = true;
            for (libusb_transfer* transfer : transfers) libusb_cancel_transfer(transfer);
            if (drained.wait_for(lock, kDrainLimit, [this] { return unfinished == 0; })) return;
            for (libusb_transfer* transfer : transfers) {
                auto* write = static_cast<PendingWrite*>(transfer->user_data);
                if (write->overlapped == nullptr) continue;
                abandoned.push_back(write->overlapped);
                write->overlapped = nullptr;
            }
            // A callback that took its write before the limit still counts down.
            unfinished -= static_cast<int>(abandoned.size());
        }
        for (OVERLAPPED* overlapped : abandoned)
            Binding().Complete(overlapped, ERROR_OPERATION_ABORTED, 0);
    }

    // Gives interface 0 back (to the printer driver, if it had it). The
    // kernel kills the interface's transfers still in flight.
    void ReleaseInterface() {
        libusb_device_handle* claimedBy = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (claimed) claimedBy = handle;
            claimed = false;
        }
        if (claimedBy != nullptr) libusb_release_interface(claimedBy, 0);
    }

    // The libusb handle once no transfer uses it any more; false while one does.
    bool CloseIfIdle() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!transfers.empty()) return false;
        }
        CloseHandleNow();
        return true;
    }

    bool IsClosed() const override {
        std::lock_guard<std::mutex> lock(mutex);
        return closed;
    }

    BOOL Claim() override;
    void Release() override;
    BOOL QueryInterfaceSettings(UCHAR alternate, PUSB_INTERFACE_DESCRIPTOR descriptor) override;
    BOOL QueryPipe(UCHAR alternate, UCHAR pipeIndex, PWINUSB_PIPE_INFORMATION pipe) override;
    BOOL WritePipe(UCHAR pipeId, const UCHAR* buffer, ULONG length, PULONG transferred,
                   OVERLAPPED* overlapped) override;

    mutable std::mutex mutex;
    std::condition_variable drained;
    libusb_device_handle* handle;
    bool claimed = false;
    bool closed = false;
    int unfinished = 0;                       // writes whose completion is not posted yet
    std::vector<libusb_transfer*> transfers;  // submitted and not yet back

  private:
    void CloseHandleNow() {
        libusb_device_handle* open = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex);
            std::swap(open, handle);
        }
        if (open != nullptr) libusb_close(open);
    }
};

void Host::CloseIdle() {
    std::vector<std::shared_ptr<HostDeviceFile>> files;
    {
        std::lock_guard<std::mutex> lock(mutex);
        files.swap(lingering);
    }
    std::vector<std::shared_ptr<HostDeviceFile>> still;
    for (auto& file : files) {
        if (!file->CloseIfIdle()) still.push_back(std::move(file));
    }
    std::lock_guard<std::mutex> lock(mutex);
    lingering.insert(lingering.end(), still.begin(), still.end());
}

void LIBUSB_CALL WriteDone(libusb_transfer* transfer) {
    auto* write = static_cast<PendingWrite*>(transfer->user_data);
    const DWORD error = WindowsErrorOfTransferStatus(transfer->status);
    const DWORD bytes = static_cast<DWORD>(transfer->actual_length);
    std::shared_ptr<HostDeviceFile> file = std::move(write->file);
    OVERLAPPED* overlapped = nullptr;
    {
        std::lock_guard<std::mutex> lock(file->mutex);
        auto& list = file->transfers;
        list.erase(std::remove(list.begin(), list.end(), transfer), list.end());
        overlapped = write->overlapped;
    }
    delete write;
    libusb_free_transfer(transfer);
    if (overlapped == nullptr) return;  // completed by the closer already
    file->Binding().Complete(overlapped, error, bytes);
    // Counted down only now: a closer that saw it drain knows its packet
    // has been posted.
    std::lock_guard<std::mutex> lock(file->mutex);
    --file->unfinished;
    file->drained.notify_all();
}

const libusb_interface_descriptor* Setting(libusb_device_handle* handle, UCHAR alternate,
                                           libusb_config_descriptor** config) {
    const int result = libusb_get_active_config_descriptor(libusb_get_device(handle), config);
    if (result != LIBUSB_SUCCESS) {
        SetLastError(WindowsErrorOfLibusbCall(result));
        return nullptr;
    }
    for (int i = 0; i < (*config)->bNumInterfaces; ++i) {
        const libusb_interface& candidate = (*config)->interface[i];
        if (candidate.num_altsetting == 0 || candidate.altsetting[0].bInterfaceNumber != 0)
            continue;
        if (alternate < candidate.num_altsetting) return &candidate.altsetting[alternate];
    }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return nullptr;
}

// Hotplug registrations, kept until the process ends: a callback may
// still be on its way when one is deregistered.
struct Registration {
    UsbDeviceChange changed;
    libusb_hotplug_callback_handle callback = 0;
};

struct Registrations {
    std::mutex mutex;
    std::vector<std::unique_ptr<Registration>> all;
};

Registrations& TheRegistrations() {
    static Registrations* registrations = new Registrations;
    return *registrations;
}

// The path an arriving device gets, named among all present ones as a
// listing names it.
std::wstring PathOfArrived(Host& host, libusb_device* device) {
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(host.Context(), &list);
    if (count < 0) return L"";
    std::wstring path;
    for (const ListedHostDevice& listed : host.names.NameAll(list, count)) {
        if (listed.device == device) path = listed.listing.devicePath;
    }
    libusb_free_device_list(list, 1);
    return path;
}

int LIBUSB_CALL Hotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                        void* data) {
    auto* registration = static_cast<Registration*>(data);
    Host* host = Host::Get();
    if (host == nullptr || libusb_get_port_number(device) == 0) return 0;
    const bool arrived = event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED;
    libusb_ref_device(device);
    host->Notify([host, registration, device, arrived] {
        const std::wstring path =
            arrived ? PathOfArrived(*host, device) : host->names.Forget(device);
        libusb_unref_device(device);
        if (!path.empty()) registration->changed(arrived, path);
    });
    return 0;
}

// Every USB device of the host that Windows would give a USB device
// interface (root hubs have none). Empty when libusb cannot start.
std::vector<UsbListing> HostUsbDevices() {
    Host* host = Host::Get();
    if (host == nullptr) return {};
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(host->Context(), &list);
    if (count < 0) return {};
    std::vector<UsbListing> listings;
    for (ListedHostDevice& listed : host->names.NameAll(list, count))
        listings.push_back(std::move(listed.listing));
    libusb_free_device_list(list, 1);
    return listings;
}

// The device whose interface path is `path`; null with the Windows error
// in `error` (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ...).
std::shared_ptr<KernelObject> OpenHostUsbDevice(const std::wstring& path, DWORD flags,
                                                DWORD* error) {
    *error = ERROR_FILE_NOT_FOUND;
    Host* host = Host::Get();
    if (host == nullptr) return nullptr;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(host->Context(), &list);
    if (count < 0) return nullptr;
    libusb_device_handle* handle = nullptr;
    int result = LIBUSB_ERROR_NOT_FOUND;
    for (const ListedHostDevice& listed : host->names.NameAll(list, count)) {
        if (Lower(listed.listing.devicePath) != Lower(path)) continue;
        result = libusb_open(listed.device, &handle);
        break;
    }
    libusb_free_device_list(list, 1);
    if (result != LIBUSB_SUCCESS) {
        // A device that is gone (or never was) is a file that does not exist.
        *error = result == LIBUSB_ERROR_NO_DEVICE || result == LIBUSB_ERROR_NOT_FOUND
                     ? ERROR_FILE_NOT_FOUND
                     : WindowsErrorOfLibusbCall(result);
        return nullptr;
    }
    if (InterfaceHeldElsewhere(handle)) {
        libusb_close(handle);
        *error = ERROR_ACCESS_DENIED;  // as Windows refuses a second opener
        return nullptr;
    }
    return std::make_shared<HostDeviceFile>(handle, (flags & FILE_FLAG_OVERLAPPED) != 0);
}

BOOL HostDeviceFile::Claim() {
    bool detach = false;
    const DWORD refused = CheckCutterInterface(handle, &detach);
    if (refused != ERROR_SUCCESS) {
        SetLastError(refused);
        return FALSE;
    }
    // A cutter may be bound to the kernel's printer driver: it lets go of
    // the interface while we hold it, and gets it back after.
    libusb_set_auto_detach_kernel_driver(handle, detach ? 1 : 0);
    const int result = libusb_claim_interface(handle, 0);
    if (result != LIBUSB_SUCCESS) {
        SetLastError(WindowsErrorOfLibusbCall(result));
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(mutex);
    claimed = true;
    return TRUE;
}

void HostDeviceFile::Release() {
    CancelAndDrain(false);
    ReleaseInterface();
}

BOOL HostDeviceFile::QueryInterfaceSettings(UCHAR alternate, PUSB_INTERFACE_DESCRIPTOR descriptor) {
    libusb_config_descriptor* config = nullptr;
    const libusb_interface_descriptor* setting = Setting(handle, alternate, &config);
    if (setting != nullptr) {
        *descriptor = USB_INTERFACE_DESCRIPTOR{setting->bLength,
                                               setting->bDescriptorType,
                                               setting->bInterfaceNumber,
                                               setting->bAlternateSetting,
                                               setting->bNumEndpoints,
                                               setting->bInterfaceClass,
                                               setting->bInterfaceSubClass,
                                               setting->bInterfaceProtocol,
                                               setting->iInterface};
    }
    if (config != nullptr) libusb_free_config_descriptor(config);
    return setting != nullptr ? TRUE : FALSE;
}

BOOL HostDeviceFile::QueryPipe(UCHAR alternate, UCHAR pipeIndex, PWINUSB_PIPE_INFORMATION pipe) {
    libusb_config_descriptor* config = nullptr;
    const libusb_interface_descriptor* setting = Setting(handle, alternate, &config);
    BOOL found = FALSE;
    if (setting != nullptr && pipeIndex < setting->bNumEndpoints) {
        const libusb_endpoint_descriptor& endpoint = setting->endpoint[pipeIndex];
        // Both count control, isochronous, bulk, interrupt from 0.
        *pipe = WINUSB_PIPE_INFORMATION{
            static_cast<USBD_PIPE_TYPE>(endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK),
            endpoint.bEndpointAddress, endpoint.wMaxPacketSize, endpoint.bInterval};
        found = TRUE;
    } else if (setting != nullptr) {
        SetLastError(ERROR_NO_MORE_ITEMS);
    }
    if (config != nullptr) libusb_free_config_descriptor(config);
    return found;
}

BOOL HostDeviceFile::WritePipe(UCHAR pipeId, const UCHAR* buffer, ULONG length, PULONG transferred,
                               OVERLAPPED* overlapped) {
    if (transferred != nullptr) *transferred = 0;
    if ((pipeId & LIBUSB_ENDPOINT_IN) != 0 || (buffer == nullptr && length != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* data = const_cast<unsigned char*>(buffer);
    if (overlapped == nullptr) {
        int moved = 0;
        const int result =
            libusb_bulk_transfer(handle, pipeId, data, static_cast<int>(length), &moved, 0);
        if (transferred != nullptr) *transferred = static_cast<ULONG>(moved);
        if (result != LIBUSB_SUCCESS) {
            SetLastError(WindowsErrorOfLibusbCall(result));
            return FALSE;
        }
        return TRUE;
    }
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    if (transfer == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    auto* write = new PendingWrite{shared_from_this(), overlapped};
    libusb_fill_bulk_transfer(transfer, handle, pipeId, data, static_cast<int>(length), WriteDone,
                              write, 0);
    std::lock_guard<std::mutex> lock(mutex);
    const int result = closed ? LIBUSB_ERROR_OTHER : libusb_submit_transfer(transfer);
    if (result != LIBUSB_SUCCESS) {
        delete write;
        libusb_free_transfer(transfer);
        SetLastError(closed ? ERROR_INVALID_HANDLE : WindowsErrorOfLibusbCall(result));
        return FALSE;
    }
    // The callback takes the file's lock first: it cannot complete the
    // write before it is counted.
    transfers.push_back(transfer);
    ++unfinished;
    Binding().Started();
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

class HostBus : public UsbBus {
  public:
    std::vector<UsbListing> Devices() override { return HostUsbDevices(); }

    std::shared_ptr<KernelObject> Open(const std::wstring& path, DWORD flags,
                                       DWORD* error) override {
        return OpenHostUsbDevice(path, flags, error);
    }

    void* Watch(UsbDeviceChange changed) override {
        Host* host = Host::Get();
        if (host == nullptr || libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return nullptr;
        }
        auto registration = std::make_unique<Registration>();
        registration->changed = std::move(changed);
        Registration* raw = registration.get();
        {
            Registrations& registrations = TheRegistrations();
            std::lock_guard<std::mutex> lock(registrations.mutex);
            registrations.all.push_back(std::move(registration));
        }
        const int result = libusb_hotplug_register_callback(
            host->Context(),
            static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                              LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
            static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
            LIBUSB_HOTPLUG_MATCH_ANY, Hotplug, raw, &raw->callback);
        if (result != LIBUSB_SUCCESS) {
            SetLastError(WindowsErrorOfLibusbCall(result));
            return nullptr;
        }
        return raw;
    }

    void Unwatch(void* watch) override {
        Host* host = Host::Get();
        Registrations& registrations = TheRegistrations();
        std::lock_guard<std::mutex> lock(registrations.mutex);
        for (const auto& candidate : registrations.all) {
            if (candidate.get() != watch || candidate->callback == 0 || host == nullptr) continue;
            libusb_hotplug_deregister_callback(host->Context(), candidate->callback);
            candidate->callback = 0;
            return;
        }
    }
};

}  // namespace

UsbBus& HostUsbBus() {
    static auto* bus = new HostBus;  // used during exit
    return *bus;
}

}  // namespace emu

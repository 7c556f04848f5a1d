#include "tests/host_usb/emulated_usb.h"

#include <umockdev.h>

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace emulated_usb {

void RunUnderUmockdev(int, char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    // umockdev_in_mock_environment() says false until a testbed exists.
    if (preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr) return;
    std::string value = "libumockdev-preload.so.0";
    if (preload != nullptr && *preload != '\0') value += std::string(":") + preload;
    setenv("LD_PRELOAD", value.c_str(), 1);
    // The sanitizer's runtime no longer comes first; it works all the same.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string options = asan != nullptr ? std::string(asan) + ":" : std::string();
    setenv("ASAN_OPTIONS", (options + "verify_asan_link_order=0").c_str(), 1);
    execv("/proc/self/exe", argv);
    std::perror("re-running under umockdev");
    std::exit(127);
}

namespace {

std::string Hex(const std::vector<unsigned char>& bytes) {
    std::string text;
    char digits[3];
    for (unsigned char byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

void Put16(std::vector<unsigned char>& bytes, unsigned value) {
    bytes.push_back(static_cast<unsigned char>(value & 0xFF));
    bytes.push_back(static_cast<unsigned char>(value >> 8));
}

// Device, configuration, one printer-class interface with bulk in and out;
// for a hub, its class and one interrupt endpoint.
// One configuration, number `value`: a printer-class interface with bulk in
// and out; for a hub, its class and one interrupt endpoint.
void AppendConfiguration(std::vector<unsigned char>& d, const DeviceConfig& config, bool hub,
                         unsigned char value) {
    d.insert(d.end(), {9, 2});
    Put16(d, hub ? 9 + 9 + 7 : 9 + 9 + 7 + 7);
    d.insert(d.end(), {1, value, 0, 0xE0, 0});
    if (hub) {
        d.insert(d.end(), {9, 4, 0, 0, 1, 9, 0, 0, 0});
        d.insert(d.end(), {7, 5, 0x81, 3, 4, 0, 12});
        return;
    }
    d.insert(d.end(), {9, 4, 0, 0, 2, 7, 1, 2, 0});
    d.insert(d.end(), {7, 5, 0x81, 2, 64, 0, 0});
    if (config.bulkOut)
        d.insert(d.end(), {7, 5, 0x02, 2, 64, 0, 0});
    else
        d.insert(d.end(), {7, 5, 0x83, 3, 8, 0, 10});
}

// The device descriptor and its configurations (two when the second is in use).
std::vector<unsigned char> Descriptors(const DeviceConfig& config, bool hub = false) {
    const unsigned char configurations = config.activeConfiguration == 2 ? 2 : 1;
    std::vector<unsigned char> d = {18, 1};
    Put16(d, 0x0200);
    d.insert(d.end(), {static_cast<unsigned char>(hub ? 9 : 0), 0, 0, 64});
    Put16(d, config.vendorId);
    Put16(d, config.productId);
    Put16(d, 0x0100);
    d.insert(d.end(),
             {0, 0, static_cast<unsigned char>(config.serial.empty() ? 0 : 3), configurations});
    for (unsigned char value = 1; value <= configurations; ++value)
        AppendConfiguration(d, config, hub, value);
    return d;
}

struct Urb {
    UMockdevIoctlData* data;  // the client's struct usbdevfs_urb, referenced
    bool completed;
    bool discarding = false;  // discarded, coming back later
};

class DeviceImpl : public Device {
  public:
    DeviceImpl(DeviceConfig deviceConfig, int number)
        : config(std::move(deviceConfig)), devnum(number) {}

    void StallWrite(unsigned long nth, int taken) override {
        std::lock_guard<std::mutex> lock(mutex);
        stalls[nth] = taken;
    }
    void StopReading(bool stopped) override {
        std::lock_guard<std::mutex> lock(mutex);
        stoppedReading = stopped;
    }
    void StopReadingAfter(unsigned long nth) override {
        std::lock_guard<std::mutex> lock(mutex);
        stopAfter = nth;
    }
    void DelayDiscards(std::chrono::milliseconds delay) override {
        std::lock_guard<std::mutex> lock(mutex);
        discardDelay = delay;
    }
    std::vector<unsigned char> Received() const override {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }
    std::uint64_t ReceivedCount() const override {
        std::lock_guard<std::mutex> lock(mutex);
        return received.size();
    }
    unsigned long WriteCount() const override {
        std::lock_guard<std::mutex> lock(mutex);
        return writes;
    }
    int ControlRequests() const override {
        std::lock_guard<std::mutex> lock(mutex);
        return controls;
    }
    int Discards() const override {
        std::lock_guard<std::mutex> lock(mutex);
        return discards;
    }
    int PendingWrites() const override {
        std::lock_guard<std::mutex> lock(mutex);
        int pending = 0;
        for (const auto& client : clients) {
            for (const Urb& urb : client.second) pending += urb.completed ? 0 : 1;
        }
        return pending;
    }
    bool DriverBound() const override {
        std::lock_guard<std::mutex> lock(mutex);
        return driverBound;
    }
    std::string PrinterNode() const override { return PrinterNodeName(); }
    int Detaches() const override {
        std::lock_guard<std::mutex> lock(mutex);
        return detaches;
    }
    bool WaitForWrites(unsigned long count, std::chrono::milliseconds limit) const override {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [&] { return writes >= count; });
    }

    bool WaitForBytes(std::uint64_t count, std::chrono::milliseconds limit) const override {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [&] { return received.size() >= count; });
    }

    std::string Name() const { return "1-" + std::to_string(config.port); }
    std::string SysPath() const { return "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + Name(); }
    std::string Node() const {
        char node[32];
        std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum);
        return node;
    }

    std::string Record() const {
        char number[8];
        std::snprintf(number, sizeof number, "%03d", devnum);
        std::string text = "P: " + SysPath().substr(4) + "\nN: bus/usb/001/" + number + "\n";
        text += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=001\nE: DEVNUM=" +
                std::string(number) + "\nE: DEVNAME=" + Node() + "\n";
        text += "A: busnum=1\\n\nA: devnum=" + std::to_string(devnum) +
                "\\n\nA: bConfigurationValue=" +
                (config.configured ? std::to_string(config.activeConfiguration) : "") +
                "\\n\nA: speed=12\\n\n";
        // The kernel's copy ends at a NUL, as its conversion does.
        if (!config.serial.empty() && config.serialInSysfs)
            text += "A: serial=" + std::string(config.serial.c_str()) + "\\n\n";
        text += "H: descriptors=" + Hex(Descriptors(config)) + "\n";
        if (config.driver == "usblp") text += PrinterRecords();
        return text;
    }

    // The printer driver's node, as usblp makes it below interface 0.
    std::string PrinterNodeName() const {
        return config.driver == "usblp" ? "/dev/usb/lp" + std::to_string(devnum) : "";
    }

    // The sysfs paths of the printer driver's interface and node, children
    // first, as they are removed.
    std::vector<std::string> PrinterPaths() const {
        if (config.driver != "usblp") return {};
        const std::string interface =
            SysPath() + "/" + Name() + ":" + std::to_string(config.activeConfiguration) + ".0";
        return {interface + "/usbmisc/lp" + std::to_string(devnum), interface};
    }

    std::string PrinterRecords() const {
        const std::string interface = SysPath().substr(4) + "/" + Name() + ":" +
                                      std::to_string(config.activeConfiguration) + ".0";
        return "\nP: " + interface +
               "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=00\\n\n"
               "\nP: " +
               interface + "/usbmisc/lp" + std::to_string(devnum) + "\nN: usb/lp" +
               std::to_string(devnum) + "\nE: SUBSYSTEM=usbmisc\nE: DEVNAME=" + PrinterNodeName() +
               "\n";
    }

    // Opens a pseudo-terminal whose slave stands in for the device node.
    std::string OpenTerminal() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        const std::string slaveName = ptsname(master);
        slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        tcflow(slave, TCOOFF);
        return slaveName;
    }

    // The printer driver's node: a pseudo-terminal whose slave stands in
    // for /dev/usb/lpN. What a program writes there reaches the cutter as
    // usblp sends it, a kilobyte each `writeDelay` on a slow cutter. The
    // device holds only the master: an open slave is a program's.
    std::string OpenPrinterTerminal() {
        const int printer = posix_openpt(O_RDWR | O_NOCTTY);
        if (printer < 0 || grantpt(printer) != 0 || unlockpt(printer) != 0)
            throw std::runtime_error("no pseudo-terminal");
        const std::string slaveName = ptsname(printer);
        const int raw = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
        termios mode{};
        if (raw < 0 || tcgetattr(raw, &mode) != 0) throw std::runtime_error("no printer node");
        cfmakeraw(&mode);  // the job's bytes pass unchanged
        tcsetattr(raw, TCSANOW, &mode);
        // Told of each open and close of the slave, the reader waits for a
        // program instead of polling a master without one.
        const int opens = inotify_init1(IN_CLOEXEC);
        if (opens < 0 || inotify_add_watch(opens, slaveName.c_str(), IN_OPEN | IN_CLOSE) < 0)
            throw std::runtime_error("cannot watch the printer node");
        close(raw);
        // Lives as long as the device, which the bus keeps for the process.
        std::thread([this, printer, opens] { TakePrinted(printer, opens); }).detach();
        return slaveName;
    }

    void TakePrinted(int printer, int opens) {
        unsigned char buffer[1024];
        for (;;) {
            const ssize_t got = read(printer, buffer, sizeof buffer);
            if (got > 0) {
                std::this_thread::sleep_for(config.writeDelay);
                std::lock_guard<std::mutex> lock(mutex);
                if (!unplugged) received.insert(received.end(), buffer, buffer + got);
                changed.notify_all();
            } else if (got < 0 && errno == EIO) {  // no program has the node open
                char events[256];
                if (read(opens, events, sizeof events) < 0 && errno != EINTR) return;
            } else if (got == 0 || errno != EINTR) {
                return;
            }
        }
    }

    // The node polls writable (what libusb waits for) only while a
    // completed transfer waits to be reaped.
    void Gate() {
        bool ready = false;
        for (const auto& client : clients) {
            for (const Urb& urb : client.second) ready = ready || urb.completed;
        }
        if (ready != gateOpen && slave >= 0) tcflow(slave, ready ? TCOON : TCOOFF);
        gateOpen = ready;
    }

    void Pulled() {
        std::lock_guard<std::mutex> lock(mutex);
        unplugged = true;
        // The controller ends what was in flight; the reaper may still
        // collect it, as the kernel lets it (USBDEVFS_CAP_REAP_AFTER_DISCONNECT).
        for (auto& client : clients) {
            for (Urb& urb : client.second) {
                if (urb.completed) continue;
                reinterpret_cast<usbdevfs_urb*>(urb.data->data)->status =
                    config.transactionErrorOnUnplug ? -EPROTO : -ESHUTDOWN;
                urb.completed = true;
            }
        }
        // The slave hangs up: libusb's poll sees POLLERR.
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
        master = slave = -1;
    }

    gboolean HandleIoctl(UMockdevIoctlClient* client);
    void Vanished(UMockdevIoctlClient* client) {
        std::lock_guard<std::mutex> lock(mutex);
        if (claimer == client) claimer = nullptr;  // closing the file releases it
        auto it = clients.find(client);
        if (it == clients.end()) return;
        for (Urb& urb : it->second) g_object_unref(urb.data);
        clients.erase(it);
        Gate();
        changed.notify_all();
    }

    const DeviceConfig config;
    const int devnum;

  private:
    bool Control(usbdevfs_urb* urb, UMockdevIoctlData* buffer, bool* completed);
    void Bulk(usbdevfs_urb* urb, UMockdevIoctlData* buffer, bool* completed, bool* paced,
              std::vector<unsigned char>* late);
    long Discard(UMockdevIoctlClient* client, gulong address, int* error);
    using Clock = std::chrono::steady_clock;
    Clock::time_point BusDone(int bytes);
    void Pace(UMockdevIoctlClient* client, UMockdevIoctlData* data, Clock::time_point due,
              std::vector<unsigned char> late);
    struct Paced {
        UMockdevIoctlClient* client;
        UMockdevIoctlData* data;
        Clock::time_point due;
        std::vector<unsigned char> late;  // what a slow cutter takes when it completes
    };
    long Claim(UMockdevIoctlClient* client, int* error);
    long DisconnectClaim(UMockdevIoctlClient* client, const usbdevfs_disconnect_claim& request,
                         int* error);
    void KillPending(UMockdevIoctlClient* client);
    bool HasCompleted(UMockdevIoctlClient* client) {
        for (const Urb& urb : clients[client]) {
            if (urb.completed) return true;
        }
        return false;
    }
    void CompleteLater(UMockdevIoctlClient* client, UMockdevIoctlData* data);

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::map<UMockdevIoctlClient*, std::deque<Urb>> clients;
    std::vector<unsigned char> received;
    std::map<unsigned long, int> stalls;  // write number: bytes taken before the stall
    unsigned long writes = 0;
    int controls = 0;
    int discards = 0;
    bool stoppedReading = false;
    unsigned long stopAfter = 0;
    std::chrono::milliseconds discardDelay{0};
    Clock::time_point busFree{};
    std::deque<Paced> pacing;
    bool pacerStarted = false;
    bool driverBound = !config.driver.empty();
    // The open file that claimed interface 0: the kernel then names usbfs
    // as its driver, and no other file can claim it.
    UMockdevIoctlClient* claimer = nullptr;
    int detaches = 0;
    bool unplugged = false;
    int master = -1, slave = -1;
    bool gateOpen = false;
};

// A string descriptor: UTF-16LE of UTF-8 `text` (one- and two-byte forms).
std::vector<unsigned char> StringDescriptor(const std::string& text) {
    std::vector<unsigned char> answer = {0, 3};
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned unit = static_cast<unsigned char>(text[i]);
        if ((unit & 0xE0) == 0xC0 && i + 1 < text.size())
            unit = ((unit & 0x1F) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F);
        Put16(answer, unit);
    }
    answer[0] = static_cast<unsigned char>(answer.size());
    return answer;
}

bool DeviceImpl::Control(usbdevfs_urb* urb, UMockdevIoctlData* buffer, bool* completed) {
    ++controls;
    const unsigned char* setup = buffer->data;
    const unsigned type = setup[3], index = setup[2];
    std::vector<unsigned char> answer;
    if (setup[0] == 0x80 && setup[1] == 6 && type == 3) {  // GET_DESCRIPTOR, string
        if (config.strings == DeviceConfig::Strings::Silent) {
            *completed = false;
            return true;
        }
        if (config.strings == DeviceConfig::Strings::Stall) return false;
        if (index == 0) {
            answer = {4, 3, 0x09, 0x04};
        } else if (index == 3 && !config.serial.empty()) {
            answer = StringDescriptor(config.serial);
        }
    }
    if (answer.empty()) return false;
    const std::size_t length = std::min<std::size_t>(answer.size(), setup[6] | (setup[7] << 8));
    std::memcpy(buffer->data + 8, answer.data(), length);
    urb->actual_length = static_cast<int>(length);
    return true;
}

// When the bus is done with `bytes` more, for a paced device: a slow one
// waits before it takes each write.
DeviceImpl::Clock::time_point DeviceImpl::BusDone(int bytes) {
    constexpr long kPacketsPerSecond = 19 * 1000;
    const long packets = config.fullSpeedPacing ? std::max(1, (bytes + 63) / 64) : 0;
    busFree = std::max(busFree, Clock::now()) + config.writeDelay +
              std::chrono::microseconds(packets * 1000000 / kPacketsPerSecond);
    return busFree;
}

void DeviceImpl::Pace(UMockdevIoctlClient* client, UMockdevIoctlData* data, Clock::time_point due,
                      std::vector<unsigned char> late) {
    pacing.push_back({client, data, due, std::move(late)});
    changed.notify_all();
    if (pacerStarted) return;
    pacerStarted = true;
    std::thread([this] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return !pacing.empty(); });
            const Paced next = pacing.front();
            if (changed.wait_until(lock, next.due, [&] { return pacing.empty(); })) continue;
            pacing.pop_front();
            auto queue = clients.find(next.client);
            if (queue == clients.end()) continue;
            for (Urb& urb : queue->second) {
                if (urb.data != next.data || urb.completed)
                    continue;  // a discarded one took nothing
                urb.completed = true;
                received.insert(received.end(), next.late.begin(), next.late.end());
            }
            Gate();
            changed.notify_all();
        }
    }).detach();  // the device lives as long as the process
}

void DeviceImpl::Bulk(usbdevfs_urb* urb, UMockdevIoctlData* buffer, bool* completed, bool* paced,
                      std::vector<unsigned char>* late) {
    ++writes;
    changed.notify_all();
    auto stall = stalls.find(writes);
    if (stall != stalls.end()) {
        const int taken = std::min(stall->second, urb->buffer_length);
        received.insert(received.end(), buffer->data, buffer->data + taken);
        urb->actual_length = taken;
        urb->status = -EPIPE;
        return;
    }
    if (stoppedReading || (stopAfter != 0 && writes > stopAfter)) {
        *completed = false;
        return;
    }
    urb->actual_length = urb->buffer_length;
    if (config.writeDelay.count() > 0) {  // taken only when the pacer completes it
        late->assign(buffer->data, buffer->data + urb->buffer_length);
        *completed = false, *paced = true;
        return;
    }
    received.insert(received.end(), buffer->data, buffer->data + urb->buffer_length);
    if (config.fullSpeedPacing) *completed = false, *paced = true;  // the pacer completes it
}

// Without a configuration there is no interface to claim; a driver or
// another open file holding it keeps it.
long DeviceImpl::Claim(UMockdevIoctlClient* client, int* error) {
    *error = !config.configured                        ? ENOENT  // any configuration has it
             : driverBound                             ? EBUSY
             : claimer != nullptr && claimer != client ? EBUSY
                                                       : 0;
    if (*error != 0) return -1;
    claimer = client;
    return 0;
}

// The kernel's own detach-and-claim: the driver goes only if the flags
// allow it (USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER: any driver but the
// named one; _IF_DRIVER: only the named one).
long DeviceImpl::DisconnectClaim(UMockdevIoctlClient* client,
                                 const usbdevfs_disconnect_claim& request, int* error) {
    if (request.interface != 0 || !config.configured) {
        *error = request.interface != 0 ? EINVAL : ENOENT;
        return -1;
    }
    if (claimer != nullptr && claimer != client) {
        *error = EBUSY;
        return -1;
    }
    if (driverBound) {
        const bool named = config.driver == request.driver;
        const bool allowed = (request.flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) != 0 ? !named
                             : (request.flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) != 0   ? named
                                                                                            : true;
        if (!allowed) {
            *error = EBUSY;
            return -1;
        }
        driverBound = false;
        ++detaches;
    }
    claimer = client;
    return 0;
}

// Ends a URB as cancelled: the reaper gets it back with -ENOENT.
void Cancelled(Urb& urb) {
    reinterpret_cast<usbdevfs_urb*>(urb.data->data)->status = -ENOENT;
    urb.completed = true;
}

long DeviceImpl::Discard(UMockdevIoctlClient* client, gulong address, int* error) {
    for (Urb& urb : clients[client]) {
        if (urb.completed || urb.discarding || urb.data->client_addr != address) continue;
        ++discards;
        if (discardDelay.count() == 0) {
            Cancelled(urb);
        } else {
            urb.discarding = true;
            if (discardDelay != kNever) CompleteLater(client, urb.data);
        }
        return 0;
    }
    *error = EINVAL;
    return -1;
}

void DeviceImpl::CompleteLater(UMockdevIoctlClient* client, UMockdevIoctlData* data) {
    std::thread([this, client, data, delay = discardDelay] {
        std::this_thread::sleep_for(delay);
        std::lock_guard<std::mutex> lock(mutex);
        auto queue = clients.find(client);
        if (queue == clients.end()) return;  // its file was closed meanwhile
        for (Urb& urb : queue->second) {
            if (urb.data == data && !urb.completed) Cancelled(urb);
        }
        Gate();
        changed.notify_all();
    }).detach();  // the device lives as long as the process
}

// Releasing an interface kills its URBs still in flight.
void DeviceImpl::KillPending(UMockdevIoctlClient* client) {
    for (Urb& urb : clients[client]) {
        if (!urb.completed) Cancelled(urb);
    }
}

gboolean DeviceImpl::HandleIoctl(UMockdevIoctlClient* client) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(mutex);
    const bool reaping = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
    if (unplugged && !(reaping && HasCompleted(client))) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    const std::size_t size = _IOC_SIZE(request);
    UMockdevIoctlData* data =
        size > 0 ? umockdev_ioctl_data_resolve(arg, 0, size, nullptr) : nullptr;
    long result = 0;
    int error = 0;
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            *reinterpret_cast<std::uint32_t*>(data->data) =
                USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            break;
        case USBDEVFS_CLAIMINTERFACE:
            result = Claim(client, &error);
            break;
        case USBDEVFS_DISCONNECT_CLAIM:
            result = DisconnectClaim(
                client, *reinterpret_cast<usbdevfs_disconnect_claim*>(data->data), &error);
            break;
        case USBDEVFS_GETDRIVER:
            if (driverBound || claimer != nullptr) {
                std::snprintf(reinterpret_cast<usbdevfs_getdriver*>(data->data)->driver,
                              USBDEVFS_MAXDRIVERNAME + 1, "%s",
                              claimer != nullptr ? "usbfs" : config.driver.c_str());
            } else {
                result = -1, error = ENODATA;
            }
            break;
        case USBDEVFS_IOCTL: {
            const int code = reinterpret_cast<usbdevfs_ioctl*>(data->data)->ioctl_code;
            if (code == static_cast<int>(USBDEVFS_DISCONNECT)) {
                if (driverBound)
                    ++detaches;
                else
                    result = -1, error = ENODATA;
                driverBound = false;
            } else if (code == static_cast<int>(USBDEVFS_CONNECT)) {
                driverBound = claimer == nullptr && !config.driver.empty();
            } else {
                result = -1, error = ENOTTY;
            }
            break;
        }
        case USBDEVFS_RELEASEINTERFACE:
            KillPending(client);
            if (claimer == client) claimer = nullptr;
            break;
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
        case USBDEVFS_RESET:
            break;
        case USBDEVFS_SUBMITURB: {
            auto* urb = reinterpret_cast<usbdevfs_urb*>(data->data);
            UMockdevIoctlData* buffer =
                umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer),
                                            static_cast<gsize>(urb->buffer_length), nullptr);
            urb->status = 0;
            urb->actual_length = 0;
            bool completed = true;
            bool paced = false;
            std::vector<unsigned char> late;
            if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
                if (!Control(urb, buffer, &completed)) urb->status = -EPIPE;
            } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == 0x02) {
                Bulk(urb, buffer, &completed, &paced, &late);
            } else {
                result = -1, error = EINVAL;
                break;
            }
            g_object_unref(buffer);
            clients[client].push_back({data, completed});
            if (paced) Pace(client, data, BusDone(urb->buffer_length), std::move(late));
            data = nullptr;  // the queue holds it now
            break;
        }
        case USBDEVFS_DISCARDURB:
            result = Discard(client, *reinterpret_cast<gulong*>(arg->data), &error);
            break;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: {
            auto& queue = clients[client];
            auto done =
                std::find_if(queue.begin(), queue.end(), [](const Urb& u) { return u.completed; });
            if (done == queue.end()) {
                result = -1, error = EAGAIN;
            } else {
                umockdev_ioctl_data_set_ptr(data, 0, done->data);
                g_object_unref(done->data);
                queue.erase(done);
            }
            break;
        }
        default:
            result = -1, error = ENOTTY;
    }
    Gate();
    changed.notify_all();
    umockdev_ioctl_client_complete(client, result, error);
    if (data != nullptr) g_object_unref(data);
    return TRUE;
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer device) {
    return static_cast<DeviceImpl*>(device)->HandleIoctl(client);
}

void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer device) {
    static_cast<DeviceImpl*>(device)->Vanished(client);
}

struct Bus {
    std::mutex mutex;
    UMockdevTestbed* testbed = nullptr;
    std::string root;
    std::vector<std::shared_ptr<DeviceImpl>> plugged;
    // Every device ever plugged stays alive: its handler may still be called.
    std::vector<std::shared_ptr<DeviceImpl>> all;
    int nextDevnum = 2;
};

Bus& TheBus() {
    static Bus* bus = [] {
        auto* created = new Bus;
        created->testbed = umockdev_testbed_new();
        gchar* root = umockdev_testbed_get_root_dir(created->testbed);
        created->root = root;
        g_free(root);
        // The root hub: libusb wants a bus to exist; it has no port.
        DeviceConfig rootHub;
        rootHub.vendorId = 0x0001;
        rootHub.productId = 0x0001;
        rootHub.serial.clear();
        const std::string hub =
            "P: /devices/pci0000:00/0000:00:14.0/usb1\nN: bus/usb/001/001\n"
            "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=001\nE: DEVNUM=001\n"
            "E: DEVNAME=/dev/bus/usb/001/001\n"
            "A: busnum=1\\n\nA: devnum=1\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\n"
            "H: descriptors=" +
            Hex(Descriptors(rootHub, true)) + "\n";
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(created->testbed, hub.c_str(), &error))
            throw std::runtime_error(error->message);
        return created;
    }();
    return *bus;
}

}  // namespace

void StartBus() {
    TheBus();
}

std::shared_ptr<Device> Plug(const DeviceConfig& config) {
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> lock(bus.mutex);
    auto device = std::make_shared<DeviceImpl>(
        config, config.address != 0 ? config.address : bus.nextDevnum++);
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(bus.testbed, device->Record().c_str(), &error))
        throw std::runtime_error(error->message);
    const std::string node = bus.root + device->Node();
    if (config.accessible) {
        unlink(node.c_str());
        if (symlink(device->OpenTerminal().c_str(), node.c_str()) != 0)
            throw std::runtime_error("cannot link the device node");
    } else {
        chmod(node.c_str(), 0);
    }
    if (!device->PrinterNodeName().empty()) {
        const std::string printer = bus.root + device->PrinterNodeName();
        unlink(printer.c_str());
        if (symlink(device->OpenPrinterTerminal().c_str(), printer.c_str()) != 0)
            throw std::runtime_error("cannot link the printer node");
    }
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(OnIoctl), device.get());
    g_signal_connect(handler, "client-vanished", G_CALLBACK(OnVanished), device.get());
    if (!umockdev_testbed_attach_ioctl(bus.testbed, device->Node().c_str(), handler, &error))
        throw std::runtime_error(error->message);
    g_object_unref(handler);
    bus.plugged.push_back(device);
    bus.all.push_back(device);
    return device;
}

void Unplug(const std::shared_ptr<Device>& device) {
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> lock(bus.mutex);
    auto it = std::find(bus.plugged.begin(), bus.plugged.end(), device);
    if (it == bus.plugged.end()) return;
    std::shared_ptr<DeviceImpl> pulled = *it;
    bus.plugged.erase(it);
    pulled->Pulled();
    // Without the event first, libusb never hears of the removal.
    umockdev_testbed_uevent(bus.testbed, pulled->SysPath().c_str(), "remove");
    for (const std::string& child : pulled->PrinterPaths())
        umockdev_testbed_remove_device(bus.testbed, child.c_str());
    umockdev_testbed_remove_device(bus.testbed, pulled->SysPath().c_str());
    // The node's address may be given to another device.
    umockdev_testbed_detach_ioctl(bus.testbed, pulled->Node().c_str(), nullptr);
}

void UnplugAll() {
    std::vector<std::shared_ptr<DeviceImpl>> plugged;
    {
        Bus& bus = TheBus();
        std::lock_guard<std::mutex> lock(bus.mutex);
        plugged = bus.plugged;
    }
    for (const auto& device : plugged) Unplug(device);
}

}  // namespace emulated_usb

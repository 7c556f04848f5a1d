#include "platform/windows_virtual/virtual_bus.h"

#include "platform/virtual_cutter_names.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <map>
#include <sstream>
#include <unordered_map>
#include <utility>

namespace virtual_usb {
namespace {

constexpr DWORD kReadSize = 64 * 1024;
// At exit a connection that nobody closes any more is given up after this.
constexpr DWORD kDrainTimeoutMs = 5000;

std::string Variable(const char* name) {
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0) return std::string();
    std::string value(size, '\0');
    const DWORD length = GetEnvironmentVariableA(name, &value[0], size);
    value.resize(length < size ? length : 0);
    return value;
}

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<std::size_t>(length) - 1);
    return wide;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> items;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, separator)) items.push_back(item);
    return items;
}

bool ParseCutter(const std::string& text, CutterConfig* config) {
    platform::VirtualDeviceEntry entry;
    if (!platform::ParseVirtualDeviceEntry(text, &entry)) return false;
    config->vendorId = entry.vendorId;
    config->productId = entry.productId;
    config->serial = entry.serial;
    config->port = entry.port;
    config->receiveFile = Widen(entry.receiveFile);
    return true;
}

std::map<std::string, DWORD> ParseDelays(const std::string& text) {
    std::map<std::string, DWORD> delays;
    for (const std::string& item : Split(text, ';')) {
        const std::string::size_type colon = item.find(':');
        if (colon == std::string::npos) continue;
        delays[item.substr(0, colon)] =
            static_cast<DWORD>(std::strtoul(item.c_str() + colon + 1, nullptr, 10));
    }
    return delays;
}

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return text;
}

std::string MakeInstanceId(const CutterConfig& config) {
    return platform::UsbInstanceId(config.vendorId, config.productId, config.serial);
}

std::wstring MakeDevicePath(const std::string& instanceId) {
    return platform::UsbInterfacePath(instanceId, L"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
}

struct Bus {
    std::vector<std::shared_ptr<Cutter>> cutters;
    std::mutex mutex;
    std::unordered_map<HANDLE, std::weak_ptr<Cutter>> connections;

    Bus() {
        const std::map<std::string, DWORD> delays = ParseDelays(Variable("EMU_USB_DELAYS"));
        for (const std::string& item : Split(Variable("EMU_USB_DEVICES"), ';')) {
            CutterConfig config;
            if (!ParseCutter(item, &config)) continue;
            const auto delay = delays.find(config.port);
            if (delay != delays.end()) config.delayMs = delay->second;
            cutters.push_back(std::make_shared<Cutter>(config, cutters.size()));
        }
    }
};

// Built at the first SetupAPI or WinUSB call and destroyed at exit, which
// lets every cutter take in the last bytes before the process ends.
Bus& TheBus() {
    static Bus bus;
    return bus;
}

struct Plan {
    unsigned long first;  // 1-based call numbers
    unsigned long last;
    DWORD error;
};

struct Faults {
    std::mutex mutex;
    std::unordered_map<std::string, unsigned long> calls;
    std::unordered_map<std::string, std::vector<Plan>> plans;

    Faults() {
        for (const std::string& item : Split(Variable("EMU_FAULTS"), ',')) {
            const std::vector<std::string> fields = Split(item, ':');
            if (fields.size() < 3) continue;
            const unsigned long nth = std::strtoul(fields[1].c_str(), nullptr, 10);
            const unsigned long times =
                fields.size() > 3 ? std::strtoul(fields[3].c_str(), nullptr, 10) : 1;
            if (nth == 0 || times == 0) continue;
            plans[fields[0]].push_back(
                {nth, nth + times - 1,
                 static_cast<DWORD>(std::strtoul(fields[2].c_str(), nullptr, 10))});
        }
    }
};

}  // namespace

Cutter::Cutter(CutterConfig config, std::size_t ordinal)
    : config_(std::move(config)),
      ordinal_(ordinal),
      instanceId_(MakeInstanceId(config_)),
      devicePath_(MakeDevicePath(instanceId_)),
      stopEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      thread_([this] { Serve(); }) {}

Cutter::~Cutter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    if (stopEvent_.valid()) SetEvent(stopEvent_.get());
    wake_.notify_all();
    thread_.join();
}

std::string Cutter::LocationPaths() const {
    std::string paths = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + config_.port + ")";
    paths.push_back('\0');
    paths.push_back('\0');
    return paths;
}

HANDLE Cutter::Connect(DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD flags) {
    std::wstring name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        name = L"\\\\.\\pipe\\bladepost-virtual-cutter-" + std::to_wstring(GetCurrentProcessId()) +
               L"-" + std::to_wstring(ordinal_) + L"-" + std::to_wstring(++connectionCount_);
    }
    // No buffer either way: a write waits until the cutter has read it.
    HANDLE server = CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 0, 0,
        nullptr);
    if (server == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    HANDLE client =
        ::CreateFileW(name.c_str(), access, share, security, OPEN_EXISTING, flags, nullptr);
    if (client == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        CloseHandle(server);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    {
        // The thread owns the server end from here on.
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.push_back(server);
    }
    wake_.notify_all();
    return client;
}

bool Cutter::Stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

void Cutter::Serve() {
    for (;;) {
        platform::UniqueHandle server;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !connections_.empty(); });
            if (connections_.empty()) return;
            server.reset(connections_.front());
            connections_.pop_front();
        }
        Drain(server.get());
    }
}

// Waits for the read on `server` to end; false when the connection is given
// up because the process is ending and the program never closed it.
bool Cutter::AwaitRead(HANDLE server, OVERLAPPED& overlapped) {
    if (!Stopping()) {
        HANDLE events[] = {overlapped.hEvent, stopEvent_.get()};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) return true;
    }
    if (WaitForSingleObject(overlapped.hEvent, kDrainTimeoutMs) == WAIT_OBJECT_0) return true;
    CancelIo(server);
    DWORD ignored = 0;
    GetOverlappedResult(server, &overlapped, &ignored, TRUE);
    return false;
}

void Cutter::Drain(HANDLE server) {
    platform::UniqueHandle received;
    if (!config_.receiveFile.empty()) {
        received.reset(CreateFileW(config_.receiveFile.c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    platform::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) return;
    std::vector<char> buffer(kReadSize);
    for (;;) {
        // A slow cutter: the write stays pending meanwhile.
        if (config_.delayMs != 0 && !Stopping()) {
            WaitForSingleObject(stopEvent_.get(), config_.delayMs);
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        DWORD count = 0;
        if (!ReadFile(server, buffer.data(), kReadSize, nullptr, &overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            return;  // ERROR_BROKEN_PIPE: the program closed its end
        }
        if (!AwaitRead(server, overlapped)) return;
        if (!GetOverlappedResult(server, &overlapped, &count, FALSE)) return;
        DWORD written = 0;
        if (received.valid() && count != 0) {
            WriteFile(received.get(), buffer.data(), count, &written, nullptr);
        }
    }
}

const std::vector<std::shared_ptr<Cutter>>& Cutters() {
    return TheBus().cutters;
}

std::shared_ptr<Cutter> FindByPath(const wchar_t* path) {
    if (path == nullptr) return nullptr;
    const std::wstring wanted = Lower(path);
    for (const auto& cutter : Cutters()) {
        if (Lower(cutter->DevicePath()) == wanted) return cutter;
    }
    return nullptr;
}

void RememberConnection(HANDLE client, const std::shared_ptr<Cutter>& cutter) {
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> lock(bus.mutex);
    bus.connections[client] = cutter;
}

std::shared_ptr<Cutter> CutterOfConnection(HANDLE client) {
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> lock(bus.mutex);
    const auto found = bus.connections.find(client);
    if (found == bus.connections.end()) return nullptr;
    // A handle value is reused once closed: only a pipe client can still be ours.
    DWORD flags = 0;
    if (!GetNamedPipeInfo(client, &flags, nullptr, nullptr, nullptr) ||
        (flags & PIPE_SERVER_END) != 0) {
        return nullptr;
    }
    return found->second.lock();
}

bool InjectedFailure(const char* function) {
    // Lives to the end: WinUSB calls happen while statics are destroyed.
    static Faults& faults = *new Faults;
    std::lock_guard<std::mutex> lock(faults.mutex);
    const unsigned long call = ++faults.calls[function];
    const auto found = faults.plans.find(function);
    if (found == faults.plans.end()) return false;
    for (const Plan& plan : found->second) {
        if (call >= plan.first && call <= plan.last) {
            SetLastError(plan.error);
            return true;
        }
    }
    return false;
}

}  // namespace virtual_usb

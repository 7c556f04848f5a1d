#include "platform/windows_virtual/virtual_bus.h"

#include "platform/virtual_cutter_names.h"

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <unordered_map>
#include <utility>

namespace virtual_usb {
namespace {

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

// "port:number;..." as a map from port to number.
std::map<std::string, DWORD> ParsePortNumbers(const std::string& text) {
    std::map<std::string, DWORD> delays;
    for (const std::string& item : Split(text, ';')) {
        const std::string::size_type colon = item.find(':');
        if (colon == std::string::npos) continue;
        delays[item.substr(0, colon)] =
            static_cast<DWORD>(std::strtoul(item.c_str() + colon + 1, nullptr, 10));
    }
    return delays;
}

std::set<std::string> ParsePorts(const std::string& text) {
    std::set<std::string> ports;
    for (const std::string& port : Split(text, ';')) {
        if (!port.empty()) ports.insert(port);
    }
    return ports;
}

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return text;
}

// The bus the cutters are on: this process's own, unless EMU_USB_BUS names
// another's.
std::wstring BusName() {
    const std::string named = Variable("EMU_USB_BUS");
    return named.empty() ? std::to_wstring(GetCurrentProcessId()) : Widen(named);
}

HANDLE NamedEvent(const std::string& port, const wchar_t* what) {
    const std::wstring name =
        L"Local\\bladepost-virtual-" + BusName() + L"-" + what + L"-" + Widen(port);
    return CreateEventW(nullptr, TRUE, FALSE, name.c_str());
}

std::vector<CutterConfig> ReadCutters() {
    const std::map<std::string, DWORD> delays = ParsePortNumbers(Variable("EMU_USB_DELAYS"));
    const std::map<std::string, DWORD> stalls = ParsePortNumbers(Variable("EMU_USB_STALLS"));
    const std::set<std::string> absent = ParsePorts(Variable("EMU_USB_ABSENT"));
    const std::set<std::string> closeFails = ParsePorts(Variable("EMU_USB_CLOSE_FAILS"));
    const std::set<std::string> otherDriver = ParsePorts(Variable("EMU_USB_OTHER_DRIVER"));
    const std::wstring prefix = L"bladepost-virtual-" + BusName() + L"-";
    std::vector<CutterConfig> cutters;
    for (const std::string& item : Split(Variable("EMU_USB_DEVICES"), ';')) {
        platform::VirtualDeviceEntry entry;
        if (!platform::ParseVirtualDeviceEntry(item, &entry)) continue;
        CutterConfig cutter;
        cutter.vendorId = entry.vendorId;
        cutter.productId = entry.productId;
        cutter.serial = entry.serial;
        cutter.port = entry.port;
        cutter.receiveFile = Widen(entry.receiveFile);
        const auto delay = delays.find(cutter.port);
        if (delay != delays.end()) cutter.delayMs = delay->second;
        const auto stall = stalls.find(cutter.port);
        if (stall != stalls.end()) cutter.stallAfter = stall->second;
        cutter.absentAtStart = absent.count(cutter.port) != 0;
        cutter.closeFails = closeFails.count(cutter.port) != 0;
        cutter.otherDriver = otherDriver.count(cutter.port) != 0;
        cutter.instanceId =
            platform::UsbInstanceId(cutter.vendorId, cutter.productId, cutter.serial);
        // "\\?\usb#vid_...#{class}" without its "\\?\".
        const std::wstring interfaceName =
            platform::UsbInterfacePath(cutter.instanceId,
                                       L"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}")
                .substr(4);
        cutter.devicePath = L"\\\\?\\pipe\\" + prefix + interfaceName;
        cutter.pipeName = Lower(L"\\" + prefix + interfaceName);
        cutter.plugEvent = NamedEvent(cutter.port, L"plug");
        cutter.unplugEvent = NamedEvent(cutter.port, L"unplug");
        cutters.push_back(std::move(cutter));
    }
    return cutters;
}

bool IsSet(HANDLE event) {
    return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
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

const std::vector<CutterConfig>& Cutters() {
    // Never destroyed: the program may call in while the process ends, and
    // the cutters' threads use these until they are stopped with it.
    static const std::vector<CutterConfig>& cutters = *new std::vector<CutterConfig>(ReadCutters());
    return cutters;
}

bool Plugged(const CutterConfig& cutter) {
    return !IsSet(cutter.unplugEvent) && (!cutter.absentAtStart || IsSet(cutter.plugEvent));
}

bool Unplugged(const CutterConfig& cutter) {
    return IsSet(cutter.unplugEvent);
}

const CutterConfig* CutterOfHandle(HANDLE file) {
    // Enough for FILE_NAME_INFO and any pipe name of ours.
    alignas(FILE_NAME_INFO) char buffer[sizeof(FILE_NAME_INFO) + 1024 * sizeof(WCHAR)];
    if (!GetFileInformationByHandleEx(file, FileNameInfo, buffer, sizeof buffer)) return nullptr;
    const auto* info = reinterpret_cast<const FILE_NAME_INFO*>(buffer);
    const std::wstring name =
        Lower(std::wstring(info->FileName, info->FileNameLength / sizeof(WCHAR)));
    for (const CutterConfig& cutter : Cutters()) {
        if (cutter.pipeName == name) return &cutter;
    }
    return nullptr;
}

std::string LocationPaths(const CutterConfig& cutter) {
    std::string paths = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + cutter.port + ")";
    paths.push_back('\0');
    paths.push_back('\0');
    return paths;
}

bool InjectedFailure(const char* function) {
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

#include "platform/emu/faults.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "platform/emu/kernel32/kernel_api.h"

namespace emu {
namespace {

struct Plan {
    unsigned long first;  // call numbers, 1-based, of the whole count
    unsigned long last;
    DWORD error;
};

struct Function {
    unsigned long calls = 0;
    std::vector<Plan> plans;
};

struct Faults {
    std::mutex mutex;
    std::unordered_map<std::string, Function> functions;

    void Arm(const std::string& name, unsigned long nth, DWORD error, unsigned long times) {
        if (nth == 0 || times == 0) return;
        Function& function = functions[name];
        unsigned long first = function.calls + nth;
        function.plans.push_back({first, first + times - 1, error});
    }

    void ArmFromEnvironment() {
        const char* text = std::getenv("EMU_FAULTS");
        if (text == nullptr) return;
        std::stringstream list(text);
        std::string item;
        while (std::getline(list, item, ',')) {
            std::stringstream fields(item);
            std::string name, nth, error, times;
            if (!std::getline(fields, name, ':') || !std::getline(fields, nth, ':') ||
                !std::getline(fields, error, ':')) {
                continue;
            }
            if (!std::getline(fields, times, ':')) times = "1";
            Arm(name, std::strtoul(nth.c_str(), nullptr, 10),
                std::strtoul(error.c_str(), nullptr, 10), std::strtoul(times.c_str(), nullptr, 10));
        }
    }
};

std::atomic<void (*)(const char*)> callObserver{nullptr};

Faults& TheFaults() {
    static Faults* faults = [] {
        auto* created = new Faults;  // lives to the end: emulated calls happen during exit
        created->ArmFromEnvironment();
        return created;
    }();
    return *faults;
}

}  // namespace

void FailCall(const std::string& function, unsigned long nth, DWORD error, unsigned long times) {
    Faults& faults = TheFaults();
    std::lock_guard<std::mutex> lock(faults.mutex);
    faults.Arm(function, nth, error, times);
}

void ClearFaults() {
    Faults& faults = TheFaults();
    std::lock_guard<std::mutex> lock(faults.mutex);
    faults.functions.clear();
}

unsigned long CallCount(const std::string& function) {
    Faults& faults = TheFaults();
    std::lock_guard<std::mutex> lock(faults.mutex);
    auto it = faults.functions.find(function);
    return it == faults.functions.end() ? 0 : it->second.calls;
}

void ObserveCalls(void (*observer)(const char* function)) {
    callObserver = observer;
}

bool InjectedFailure(const char* name) {
    if (const auto observer = callObserver.load()) observer(name);
    Faults& faults = TheFaults();
    DWORD error = 0;
    {
        std::lock_guard<std::mutex> lock(faults.mutex);
        Function& function = faults.functions[name];
        unsigned long call = ++function.calls;
        bool fail = false;
        for (const Plan& plan : function.plans) {
            if (call >= plan.first && call <= plan.last) {
                fail = true;
                error = plan.error;
            }
        }
        if (!fail) return false;
    }
    SetLastError(error);
    return true;
}

}  // namespace emu

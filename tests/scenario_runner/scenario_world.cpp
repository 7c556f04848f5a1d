#include "tests/scenario_runner/scenario_world.h"

#include <fstream>

#include "platform/emu/control.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wide_text.h"

void MakeJobsAndFaults(const scenario::Scenario& s, const std::string& jobFolder,
                       std::deque<platform::UniqueHandle>* locks) {
    for (const scenario::Job& job : s.jobs) {
        WriteWholeFile(jobFolder + job.name, scenario::JobBytes(job).substr(0, job.size));
        if (!job.locked) continue;
        const std::wstring path = Wide(jobFolder + job.name);
        locks->emplace_back(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    for (const scenario::Fault& fault : s.faults) {
        emu::FailCall(fault.function, fault.nth, static_cast<DWORD>(fault.error), fault.times);
    }
}

void GrowJob(const scenario::Job& job, const std::string& jobFolder) {
    std::ofstream(jobFolder + job.name, std::ios::binary | std::ios::app)
        << scenario::JobBytes(job).substr(job.size);
}

// What reporting costs the reporting thread, and how many records per second
// the writer thread sustains. Standard output is left unconnected, as it is
// for the windowed program, so the file is the writer's only real work.
#include <benchmark/benchmark.h>
#include <chrono>
#include <iostream>

#include "log/log_location.h"
#include "log/logger.h"
#include "platform/emu/control.h"
#include "tests/support/temp_folder.h"

namespace {

const char kContext[] = "void __thiscall QUILL::UsbDevice::AsyncOpen(void)";
const std::string kMessage = "WinUsb_Initialize Error\r\n failed (31)";

TempFolder& AppData() {
    static TempFolder* folder = [] {
        auto* created = new TempFolder;
        emu::SetCommonAppDataFolder(created->Path());
        MakeFolders(*created / (std::string(kVendorFolderName) + "/log"));
        return created;
    }();
    return *folder;
}

// Time spent on the reporting thread for one whole reporting statement.
void BM_ReportingStatement(benchmark::State& state) {
    AppData();
    std::cout.setstate(std::ios::badbit);
    Logger logger("bench-report.log");
    for (auto _ : state) {
        logger.Error() << kContext << " - " << kMessage;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReportingStatement);

// Records per second from the first record until the last is in the file.
void BM_WriterThroughput(benchmark::State& state) {
    AppData();
    std::cout.setstate(std::ios::badbit);
    const int records = static_cast<int>(state.range(0));
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        {
            Logger logger("bench-throughput.log");
            for (int i = 0; i < records; ++i) logger.Error() << kContext << " - " << kMessage;
        }  // destruction waits until the writer has flushed every record
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
    }
    state.SetItemsProcessed(state.iterations() * records);
}
BENCHMARK(BM_WriterThroughput)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

// The figures go to standard error: standard output is the log writer's,
// and it is left unconnected here.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

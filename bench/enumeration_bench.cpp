// Time of one enumeration pass (refresh of the connected-cutter map) over
// 1, 10 and 100 virtual cutters, so that its growth with the count shows.
#include <benchmark/benchmark.h>
#include <iostream>

#include "platform/emu/control.h"
#include "platform/emu/buses/virtual/virtual_usb.h"
#include "usb/usb_listener.h"

namespace {

void BM_EnumerationPass(benchmark::State& state) {
    emu::UnplugAll();
    const int count = static_cast<int>(state.range(0));
    for (int i = 0; i < count; ++i) {
        emu::VirtualDeviceConfig config;
        config.serial = std::to_string(1000 + i);
        config.locationPaths = {emu::PortLocationPath(i)};
        emu::PlugIn(config);
    }
    UsbListener listener;
    for (auto _ : state) {
        listener.connectedCutters.clear();
        listener.Init(false);
    }
    if (listener.connectedCutters.size() != static_cast<std::size_t>(count)) {
        state.SkipWithError("not every cutter was found");
    }
    state.SetComplexityN(count);
}
BENCHMARK(BM_EnumerationPass)
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity();

}  // namespace

BENCHMARK_MAIN();

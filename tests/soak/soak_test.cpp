// A fixed slice of the soak: the same runs every time, so a failure here is
// replayed with `bladepost_soak --seed 20240601 --run N`.
#include <gtest/gtest.h>

#include <map>

#include "tests/soak/soak.h"
#include "tests/support/temp_folder.h"

namespace {

constexpr std::uint64_t kSeed = 20240601;
// About a minute under AddressSanitizer on a 2-core machine.
constexpr unsigned long kRuns = 1200;
// Enough to see what is wrong; the rest would only repeat it.
constexpr std::size_t kMostReported = 20;

TEST(Soak, FixedSeedSlice) {
    TempFolder folder;
    soak::Prepare(folder.Path());
    std::size_t reported = 0;
    for (unsigned long run = 0; run < kRuns && reported < kMostReported; ++run) {
        for (const std::string& problem : soak::Play(soak::MakePlan(kSeed, run), folder.Path())) {
            ADD_FAILURE() << problem;
            ++reported;
        }
    }
}

// The soak found the program saying the file was sent though the cutter
// lacked the chunk whose write completed with success and no bytes.
TEST(Soak, ZeroByteWriteIsNotReportedAsSent) {
    TempFolder folder;
    soak::Prepare(folder.Path());
    const soak::Plan plan = soak::MakePlan(2, 203);
    ASSERT_EQ(plan.Describe(),
              "1024 bytes, 3 cutters on port 6,1,2, output 2, fault: write fails at write 1 with 0 "
              "on completion, instant");
    for (const std::string& problem : soak::Play(plan, folder.Path())) ADD_FAILURE() << problem;
}

TEST(Soak, RunIsChosenFromItsSeedAndNumberAlone) {
    EXPECT_EQ(soak::MakePlan(kSeed, 317).Describe(), soak::MakePlan(kSeed, 317).Describe());
    EXPECT_EQ(soak::MakePlan(kSeed, 317).Name(), "seed 20240601 run 317");
    EXPECT_NE(soak::MakePlan(kSeed, 317).Describe(), soak::MakePlan(kSeed + 1, 317).Describe());
}

// The slice reaches every kind of run the generator makes.
TEST(Soak, SliceCoversEveryChoice) {
    std::map<int, int> faults;
    std::map<std::size_t, int> sizes;
    std::map<int, int> cutters;
    int cancels = 0, slow = 0, instant = 0, atOnce = 0, openTwice = 0;
    for (unsigned long run = 0; run < kRuns; ++run) {
        const soak::Plan plan = soak::MakePlan(kSeed, run);
        ++faults[static_cast<int>(plan.fault)];
        ++sizes[plan.fileSize];
        ++cutters[plan.cutters];
        cancels += plan.cancelAt >= 0;
        slow += plan.latencyMicroseconds > 0;
        instant += plan.latencyMicroseconds == 0;
        atOnce += plan.failsAtOnce;
        openTwice += plan.openFailures == 2;
    }
    EXPECT_EQ(faults.size(), 6u);
    for (const auto& fault : faults) EXPECT_GE(fault.second, 20) << static_cast<int>(fault.first);
    for (std::size_t size : {0, 1023, 1024, 1025}) EXPECT_GE(sizes[size], 10) << size;
    for (int count : {1, 2, 3}) EXPECT_GE(cutters[count], 50) << count;
    EXPECT_GE(cancels, 50);
    EXPECT_GE(slow, 50);
    EXPECT_GE(instant, 50);
    EXPECT_GE(atOnce, 10);
    EXPECT_GE(openTwice, 10);
}

}  // namespace

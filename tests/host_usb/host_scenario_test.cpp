// Plays every scenario of tests/scenarios in-process on the host bus: the
// program reaches emulated cutters through libusb, as real ones.
#include <gtest/gtest.h>

#include "tests/host_usb/host_world.h"
#include "tests/scenario_runner/scenario_player.h"
#include "tests/support/fresh_emulation.h"

namespace {

class ScenarioOnLibusb : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { ResetProgramState(); }
    void TearDown() override { ResetProgramState(); }
};

TEST_P(ScenarioOnLibusb, PlaysAsWritten) {
    PlayScenario(GetParam(), [](const scenario::Scenario& played, const std::string& folder,
                                std::vector<std::string>* problems) {
        return std::make_unique<HostWorld>(played, folder, problems);
    });
}

INSTANTIATE_TEST_SUITE_P(Table, ScenarioOnLibusb, testing::ValuesIn(ScenarioNames()),
                         [](const testing::TestParamInfo<std::string>& param) {
                             return TestNameOf(param.param);
                         });

}  // namespace

// Plays every scenario of tests/scenarios in-process on the virtual bus:
// wWinMain against the scripted desktop and virtual cutters.
#include <gtest/gtest.h>

#include "tests/scenario_runner/emulated_world.h"
#include "tests/scenario_runner/scenario_player.h"
#include "tests/support/fresh_emulation.h"

namespace {

class Scenario : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { ResetEmulation(); }
    void TearDown() override { ResetEmulation(); }
};

TEST_P(Scenario, PlaysAsWritten) {
    PlayScenario(GetParam(), [](const scenario::Scenario& played, const std::string& folder,
                                std::vector<std::string>* problems) {
        return std::make_unique<EmulatedWorld>(played, folder, problems);
    });
}

INSTANTIATE_TEST_SUITE_P(Table, Scenario, testing::ValuesIn(ScenarioNames()),
                         [](const testing::TestParamInfo<std::string>& param) {
                             return TestNameOf(param.param);
                         });

}  // namespace

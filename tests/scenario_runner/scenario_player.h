// Plays a scenario of tests/scenarios in-process: wWinMain against the
// scripted desktop, the user's actions scripted ahead, the surroundings made
// by a world of the bus the runner plays on.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/scenario_runner/scenario.h"
#include "tests/scenario_runner/scenario_world.h"

// The scenarios of SCENARIO_FOLDER by name, sorted.
std::vector<std::string> ScenarioNames();

// The test-name form of a scenario's name ('-' is not allowed there).
std::string TestNameOf(const std::string& scenario);

using MakeWorld = std::function<std::unique_ptr<ScenarioWorld>(const scenario::Scenario& played,
                                                               const std::string& jobFolder,
                                                               std::vector<std::string>* problems)>;

// Loads scenario `name`, plays it in a job folder of its own and reports
// every difference from what it expects as a test failure.
void PlayScenario(const std::string& name, const MakeWorld& makeWorld);

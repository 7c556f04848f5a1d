// bladepost_soak: the soak for as long as asked, or one run of it again.
//
//   bladepost_soak [--minutes M] [--seed S]   runs 0, 1, 2, ... for M minutes
//   bladepost_soak --seed S --run N           replays run N of seed S alone
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "tests/soak/soak.h"
#include "tests/support/temp_folder.h"

namespace {

// Each way of failing is printed in full this often; later runs that fail
// the same check are only counted, so a second fault is not buried.
constexpr int kShownPerCheck = 3;

int Usage() {
    std::fprintf(stderr,
                 "usage: bladepost_soak [--minutes M] [--seed S]\n"
                 "       bladepost_soak --seed S --run N\n");
    return 2;
}

// The failed check without the run's name and numbers.
std::string CheckOf(const std::string& problem) {
    std::string line = problem.substr(0, problem.find('\n'));
    line = line.substr(line.find(": ") + 2);
    std::string key;
    for (char c : line) {
        if (c < '0' || c > '9') key.push_back(c);
    }
    return key;
}

struct Tally {
    int runs = 0;
    std::string first;  // replay command of the first run that failed it
};

bool PlayAndReport(const soak::Plan& plan, const std::string& folder,
                   std::map<std::string, Tally>* tallies) {
    const std::vector<std::string> problems = soak::Play(plan, folder);
    const std::string replay =
        "bladepost_soak --seed " + std::to_string(plan.seed) + " --run " + std::to_string(plan.run);
    bool shown = false;
    for (const std::string& problem : problems) {
        Tally& tally = (*tallies)[CheckOf(problem)];
        if (tally.runs++ == 0) tally.first = replay;
        if (tally.runs > kShownPerCheck) continue;
        std::printf("FAILED: %s\n", problem.c_str());
        shown = true;
    }
    if (shown) std::printf("  replay: %s\n", replay.c_str());
    std::fflush(stdout);
    return problems.empty();
}

}  // namespace

int main(int argc, char** argv) {
    double minutes = 5;
    std::uint64_t seed = static_cast<std::uint64_t>(
        std::chrono::system_clock::now().time_since_epoch() / std::chrono::microseconds(1));
    long replay = -1;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 >= argc) return Usage();
        const char* value = argv[++i];
        if (std::strcmp(argv[i - 1], "--minutes") == 0) {
            minutes = std::strtod(value, nullptr);
        } else if (std::strcmp(argv[i - 1], "--seed") == 0) {
            seed = std::strtoull(value, nullptr, 10);
        } else if (std::strcmp(argv[i - 1], "--run") == 0) {
            replay = std::strtol(value, nullptr, 10);
        } else {
            return Usage();
        }
    }

    // The log echoes every record to standard output; the file has them, and
    // the soak's own lines go through stdio.
    // Never destroyed: the log's writer and the stream's own clean-up at
    // exit still use it.
    auto* discard = new std::ofstream("/dev/null");
    std::cout.rdbuf(discard->rdbuf());
    TempFolder folder;
    soak::Prepare(folder.Path());
    std::map<std::string, Tally> tallies;
    if (replay >= 0) {
        const soak::Plan plan = soak::MakePlan(seed, static_cast<unsigned long>(replay));
        std::printf("%s: %s\n", plan.Name().c_str(), plan.Describe().c_str());
        const bool passed = PlayAndReport(plan, folder.Path(), &tallies);
        if (passed) std::printf("passed\n");
        return passed ? 0 : 1;
    }

    std::printf("soak: seed %llu for %g minutes\n", static_cast<unsigned long long>(seed), minutes);
    std::fflush(stdout);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto length = std::chrono::duration<double, std::ratio<60>>(minutes);
    Clock::time_point nextNote = start + std::chrono::minutes(1);
    unsigned long runs = 0;
    unsigned long failed = 0;
    while (Clock::now() - start < length) {
        if (!PlayAndReport(soak::MakePlan(seed, runs), folder.Path(), &tallies)) ++failed;
        ++runs;
        if (Clock::now() >= nextNote) {
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            std::printf("soak: %lu runs, %.1f runs per second\n", runs, runs / seconds);
            std::fflush(stdout);
            nextNote += std::chrono::minutes(1);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("soak: seed %llu, %lu runs in %.0f s, %.1f runs per second, %lu failed\n",
                static_cast<unsigned long long>(seed), runs, seconds, runs / seconds, failed);
    for (const auto& check : tallies) {
        std::printf("  %d runs failed: %s (first: %s)\n", check.second.runs, check.first.c_str(),
                    check.second.first.c_str());
    }
    return failed == 0 ? 0 : 1;
}

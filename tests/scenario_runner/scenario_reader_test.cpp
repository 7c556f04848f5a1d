// The scenario table's reader and the log parsing its checker relies on.
#include <gtest/gtest.h>

#include "tests/scenario_runner/scenario.h"
#include "tests/scenario_runner/scenario_check.h"

namespace {

using scenario::Step;

TEST(ScenarioReader, ReadsEveryPartOfAScenario) {
    const std::string text =
        "title: Two cutters\n"
        "cutter 2: 2E7A:4C05 serial 00B7 port 2 slow 40 absent close-fails other-driver\n"
        "job plot job.plt: 300 bytes locked grows 50\n"
        "fault: WinUsb_Initialize call 1 fails with 31 2 times\n"
        "command line: \"{plot job.plt}\" {x*3}\n"
        "other program: {plot job.plt}\n"
        "file dialog\n"
        "  expect list \"A \\\"1\\\"\" \"B\"   # comment\n"
        "  choose output 2\n"
        "  grow plot job.plt\n"
        "message box\n"
        "  expect \"Unable (x.\\r\\n)\"\n"
        "  on wine \"Unable (y.\\r\\n)\"\n"
        "  press OK\n"
        "exit 1\n"
        "cutter 2 got part of plot job.plt\n"
        "log error \"ctx\" \"a\\r\\n b\"\n"
        "  on wine \"c\"\n";
    scenario::Scenario s;
    std::string error;
    ASSERT_TRUE(scenario::Parse("x", text, &s, &error)) << error;
    EXPECT_EQ(s.title, "Two cutters");
    ASSERT_EQ(s.cutters.size(), 1u);
    EXPECT_EQ(s.cutters[0].productId, 0x4C05);
    EXPECT_EQ(s.cutters[0].serial, "00B7");
    EXPECT_EQ(s.cutters[0].slowMs, 40u);
    EXPECT_TRUE(s.cutters[0].absent && s.cutters[0].closeFails && s.cutters[0].otherDriver);
    EXPECT_EQ(s.jobs.at(0).name, "plot job.plt");
    EXPECT_TRUE(s.jobs.at(0).locked);
    EXPECT_EQ(s.jobs.at(0).grows, 50u);
    EXPECT_EQ(scenario::JobBytes(s.jobs.at(0)).size(), 350u);
    EXPECT_EQ(s.faults.at(0).times, 2u);
    EXPECT_EQ(scenario::Expand(s.commandLine, "C:\\j\\"), "\"C:\\j\\plot job.plt\" xxx");
    EXPECT_TRUE(s.hasOtherProgram);
    EXPECT_EQ(s.otherProgram, "{plot job.plt}");
    ASSERT_EQ(s.steps.size(), 7u);
    EXPECT_EQ(s.steps[1].text, "\"A \\\"1\\\"\" \"B\"");
    EXPECT_EQ(s.steps[2].kind, Step::Kind::ChooseOutput);
    EXPECT_EQ(s.steps[2].number, 2);
    EXPECT_EQ(s.steps[3].kind, Step::Kind::Grow);
    EXPECT_EQ(s.steps[3].text, "plot job.plt");
    EXPECT_EQ(s.steps[5].Expected(false), "Unable (x.\r\n)");
    EXPECT_EQ(s.steps[5].Expected(true), "Unable (y.\r\n)");
    EXPECT_EQ(s.exitCode, 1);
    EXPECT_EQ(s.received.at(0).kind, scenario::Received::Kind::Part);
    EXPECT_EQ(s.received.at(0).job, "plot job.plt");
    EXPECT_EQ(s.log.at(0).Messages(false), std::vector<std::string>{"a\r\n b"});
    EXPECT_EQ(s.log.at(0).Messages(true), std::vector<std::string>{"c"});
}

TEST(ScenarioReader, MistakesNameTheirLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"exit 0\nexpect title \"x\"\n", "x:2: \"expect\" outside"},
        {"file dialog\n  press OK\nexit 0\n", "x:2: cannot do \"press OK\" here"},
        {"progress\n  expect list \"a\"\nexit 0\n", "x:2: nothing called \"list\""},
        {"cutter 1: 2E7A serial 1 port 1\nexit 0\n", "x:1: cannot read this line"},
        {"file dialog\n  expect title \"x\n", "x:2: a text without its closing quote"},
        {"file dialog\n  press Send\n", "x: no \"exit\" line"},
        {"exit 0\ncutter 3 got nothing\n", "x: a \"got\" line names a cutter"},
        {"job j: 9 bytes grows 0\nexit 0\n", "x:1: cannot read this line"},
        {"job j: 9 bytes\nprogress\n  grow j\nexit 0\n", "x: line 3: no job j that grows"},
    };
    for (const auto& c : cases) {
        scenario::Scenario s;
        std::string error;
        EXPECT_FALSE(scenario::Parse("x", c.text, &s, &error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
}

TEST(ScenarioLog, RecordsSplitAtTimestampsWithTheirLineEndsRestored) {
    const std::string file =
        "2026-01-05 09:03:07 [error]: void f(void) - WinUsb_Initialize Error\r\r\n"
        " failed (31)\r\n"
        "2026-01-05 09:03:08 [warning]: g - \r\n";
    const std::vector<scenario::LogLine> records = scenario::ParseLog(file);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].level, "error");
    EXPECT_EQ(records[0].context, "void f(void)");
    EXPECT_EQ(records[0].message, "WinUsb_Initialize Error\r\n failed (31)");
    EXPECT_EQ(records[1].level, "warning");
    EXPECT_EQ(records[1].message, "");
}

TEST(ScenarioCheck, PartMustBeAProperPrefixOfTheJob) {
    scenario::Scenario s;
    std::string error;
    ASSERT_TRUE(scenario::Parse("x",
                                "cutter 1: 2E7A:4C01 serial 1 port 1\njob j: 2000 bytes\n"
                                "exit 1\ncutter 1 got part of j\n",
                                &s, &error))
        << error;
    const std::string job = scenario::JobBytes(s.jobs[0]);
    scenario::Observed seen;
    seen.exitCode = 1;
    seen.received[1] = job.substr(0, 1024);
    EXPECT_TRUE(scenario::Check(s, seen, "", false).empty());
    seen.received[1] = job;  // all of it is not a part
    EXPECT_EQ(scenario::Check(s, seen, "", false).size(), 1u);
    seen.received[1] = job.substr(1, 1024);  // not its start
    EXPECT_EQ(scenario::Check(s, seen, "", false).size(), 1u);
}

TEST(ScenarioCheck, NumberInALogMessageStandsForDigitsOnly) {
    scenario::Scenario s;
    std::string error;
    ASSERT_TRUE(
        scenario::Parse("x", "exit 1\nlog error \"c\" \"after {number} of 9 bytes\"\n", &s, &error))
        << error;
    scenario::Observed seen;
    seen.exitCode = 1;
    seen.logText = "2026-01-05 09:03:07 [error]: c - after 1024 of 9 bytes\r\n";
    EXPECT_TRUE(scenario::Check(s, seen, "", false).empty());
    seen.logText = "2026-01-05 09:03:07 [error]: c - after  of 9 bytes\r\n";
    EXPECT_EQ(scenario::Check(s, seen, "", false).size(), 1u);
    seen.logText = "2026-01-05 09:03:07 [error]: c - after 12x of 9 bytes\r\n";
    EXPECT_EQ(scenario::Check(s, seen, "", false).size(), 1u);
}

TEST(ScenarioCheck, AnyOfSeveralWineMessagesMatchesUnderWineOnly) {
    scenario::Scenario s;
    std::string error;
    ASSERT_TRUE(scenario::Parse("x",
                                "exit 1\nlog error \"c\" \"windows\"\n  on wine \"first\"\n"
                                "  # between them\n  on wine \"second\"\n",
                                &s, &error))
        << error;
    scenario::Observed seen;
    seen.exitCode = 1;
    seen.logText = "2026-01-05 09:03:07 [error]: c - second\r\n";
    EXPECT_TRUE(scenario::Check(s, seen, "", true).empty());
    EXPECT_EQ(scenario::Check(s, seen, "", false).size(), 1u);
    seen.logText = "2026-01-05 09:03:07 [error]: c - windows\r\n";
    EXPECT_EQ(scenario::Check(s, seen, "", true).size(), 1u);
}

}  // namespace

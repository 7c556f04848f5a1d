// What whole runs leave in the log file: each run is a process of its own.
#include <gtest/gtest.h>

#include "log/log_location.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_folder.h"

namespace {

class LogRuns : public testing::Test {
  protected:
    std::string LogFolder() const { return appData / (std::string(kVendorFolderName) + "/log"); }
    std::string LogFile() const { return LogFolder() + "/portgate.log"; }

    ProcessResult Run(const std::vector<std::string>& arguments,
                      std::vector<std::string> environment = {}) const {
        std::vector<std::string> argv = {LOG_PROBE_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        environment.push_back("EMU_COMMON_APPDATA=" + appData.Path());
        return RunProcess(argv, environment);
    }

    static int CountLines(const std::string& text) {
        int lines = 0;
        for (char c : text) lines += c == '\n';
        return lines;
    }

    TempFolder appData;
};

TEST_F(LogRuns, EachRunKeepsOnlyItsOwnRecords) {
    MakeFolders(LogFolder());
    ASSERT_EQ(Run({"records", "3", "message", "first run"}).exitCode, 0);
    ProcessResult second = Run({"records", "2", "message", "second run"});
    ASSERT_EQ(second.exitCode, 0);

    const std::string file = ReadWholeFile(LogFile());
    EXPECT_EQ(file.find("first run"), std::string::npos);
    EXPECT_EQ(CountLines(file), 2);
    EXPECT_NE(file.find("[error]: int __cdecl main(int,char **) - second run 0\r\n"),
              std::string::npos);
    EXPECT_EQ(second.out, file);
}

TEST_F(LogRuns, RunWithoutRecordsLeavesTheFileAlone) {
    MakeFolders(LogFolder());
    ASSERT_EQ(Run({"records", "0"}).exitCode, 0);
    EXPECT_FALSE(FileExists(LogFile()));

    WriteWholeFile(LogFile(), "kept\r\n");
    ASSERT_EQ(Run({"records", "0"}).exitCode, 0);
    EXPECT_EQ(ReadWholeFile(LogFile()), "kept\r\n");
}

TEST_F(LogRuns, MissingLogFolderCreatesNothingButStandardOutputGetsAll) {
    ProcessResult run = Run({"records", "4"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_FALSE(FileExists(LogFolder()));
    EXPECT_EQ(CountLines(run.out), 4);
}

TEST_F(LogRuns, StandardOutputNotConnectedLeavesTheFileWhole) {
    MakeFolders(LogFolder());
    ProcessResult run = Run({"records", "3", "stdout", "closed"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(CountLines(ReadWholeFile(LogFile())), 3);
}

TEST_F(LogRuns, FailedFolderLookupLosesThatRecordOnly) {
    MakeFolders(LogFolder());
    ProcessResult run = Run({"records", "3"}, {"EMU_FAULTS=SHGetFolderPathA:1:5"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err,
              "lost: Cannot retrieve shared application data folder, SHGetFolderPath failed (5)\n");
    const std::string file = ReadWholeFile(LogFile());
    EXPECT_EQ(CountLines(file), 2);
    const std::string firstLine = file.substr(0, file.find('\n') + 1);
    EXPECT_NE(firstLine.find(" - probe record 1\r\n"), std::string::npos) << file;
}

TEST_F(LogRuns, FirstRecordsFromTwoThreadsCreateOneLogger) {
    MakeFolders(LogFolder());
    ProcessResult run = Run({"records", "50", "threads", "2"});
    ASSERT_EQ(run.exitCode, 0);
    // Two Loggers would each have truncated the file and lost records.
    EXPECT_EQ(CountLines(ReadWholeFile(LogFile())), 100);
}

}  // namespace

// What whole runs leave in the log file: each run is a process of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iostream>

#include "log/log_location.h"
#include "tests/support/deadline.h"
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
        const Deadline deadline("log_probe " + arguments[0], std::chrono::seconds(20));
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

// Every user of the machine shares the log folder, world-writable and sticky
// like /tmp. One user plants something at the log's name; another user's run
// must neither change what it leads to nor wait on it, and still reports on
// standard output. Runs as root, which takes on the two users' IDs.
class PlantedLogName : public LogRuns {
  protected:
    static constexpr uid_t kPlanter = 61021, kRunner = 61022;
    static constexpr const char* kSetpriv = "/usr/bin/setpriv";
    static constexpr const char* kRunnerBytes = "the runner's own file\n";

    static void SetUpTestSuite() {
        // These are global to the kernel, so the test cannot switch them:
        // it says which were in force.
        for (const char* name : {"symlinks", "hardlinks", "regular", "fifos"}) {
            std::ifstream value(std::string("/proc/sys/fs/protected_") + name);
            std::string setting = "absent";
            value >> setting;
            std::cout << "fs.protected_" << name << " = " << setting << "\n";
        }
    }

    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "acting as two users needs root";
        if (access(kSetpriv, X_OK) != 0) GTEST_SKIP() << kSetpriv << " is missing";
        MakeFolders(LogFolder());
        ASSERT_EQ(chmod(appData.Path().c_str(), 0755), 0);
        ASSERT_EQ(chmod((appData / kVendorFolderName).c_str(), 0755), 0);
        ASSERT_EQ(chmod(LogFolder().c_str(), 01777), 0);
        WriteWholeFile(target, kRunnerBytes);
        ASSERT_EQ(chown(target.c_str(), kRunner, kRunner), 0);
        ASSERT_EQ(chmod(target.c_str(), 0644), 0);
    }

    static std::vector<std::string> As(uid_t id, std::vector<std::string> command) {
        const std::string n = std::to_string(id);
        command.insert(command.begin(),
                       {kSetpriv, "--reuid=" + n, "--regid=" + n, "--clear-groups", "--"});
        return command;
    }

    bool Plant(std::vector<std::string> command) const {
        return RunProcess(As(kPlanter, command), {}).exitCode == 0;
    }

    // The runner's run reports two records; a run that waits on what was
    // planted ends the test within the deadline.
    void ExpectRunIgnoresThePlantedName() const {
        ProcessResult run;
        {
            const Deadline deadline("a run logging to a planted name", std::chrono::seconds(10));
            run = RunProcess(As(kRunner, {LOG_PROBE_PATH, "records", "2"}),
                             {"EMU_COMMON_APPDATA=" + appData.Path()});
        }
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(CountLines(run.out), 2) << run.out;
        EXPECT_EQ(ReadWholeFile(target), kRunnerBytes);
    }

    static mode_t Kind(const std::string& path) {
        struct stat info {};
        return lstat(path.c_str(), &info) == 0 ? info.st_mode & S_IFMT : 0;
    }

    const std::string target = appData / "runner-file";
};

TEST_F(PlantedLogName, SymbolicLinkToTheRunnersFile) {
    ASSERT_TRUE(Plant({"ln", "-s", target, LogFile()}));
    ExpectRunIgnoresThePlantedName();
    EXPECT_EQ(Kind(LogFile()), static_cast<mode_t>(S_IFLNK));
}

TEST_F(PlantedLogName, HardLinkToTheRunnersFile) {
    if (!Plant({"ln", target, LogFile()})) {
        // fs.protected_hardlinks: the planter may not link a file it cannot
        // write. A machine without it would let it, so root plants the same
        // link to check the run all the same.
        std::cout << "the kernel refused the planter's hard link; root planted it\n";
        ASSERT_EQ(link(target.c_str(), LogFile().c_str()), 0);
    }
    ExpectRunIgnoresThePlantedName();
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_nlink, 2u);
}

TEST_F(PlantedLogName, FifoWithoutReader) {
    ASSERT_TRUE(Plant({"mkfifo", "-m", "0666", LogFile()}));
    ExpectRunIgnoresThePlantedName();
    EXPECT_EQ(Kind(LogFile()), static_cast<mode_t>(S_IFIFO));
}

TEST_F(LogRuns, FirstRecordsFromTwoThreadsCreateOneLogger) {
    MakeFolders(LogFolder());
    ProcessResult run = Run({"records", "50", "threads", "2"});
    ASSERT_EQ(run.exitCode, 0);
    // Two Loggers would each have truncated the file and lost records.
    EXPECT_EQ(CountLines(ReadWholeFile(LogFile())), 100);
}

}  // namespace

// Records as they reach the log file and standard output.
#include <gtest/gtest.h>
#include <iostream>
#include <regex>
#include <thread>

#include "log/log_location.h"
#include "log/logger.h"
#include "platform/emu/control.h"
#include "tests/support/deadline.h"
#include "tests/support/temp_folder.h"

namespace {

const char kContext[] = "void __thiscall QUILL::UsbManager::Init(bool)";

// The log folder is looked up once per process, so every Logger of this
// program lives below one application-data folder.
class LoggerTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        appData = new TempFolder;
        emu::SetCommonAppDataFolder(appData->Path());
        MakeFolders(*appData / (std::string(kVendorFolderName) + "/log"));
    }
    static void TearDownTestSuite() { delete appData; }

    static std::string LogFile(const std::string& name) {
        return *appData / (std::string(kVendorFolderName) + "/log/" + name);
    }

    static TempFolder* appData;
    // A writer that never ends its worker would hang the destructor.
    const Deadline deadline{"a Logger test, its writer's end included", std::chrono::seconds(20)};
};

TempFolder* LoggerTest::appData = nullptr;

TEST_F(LoggerTest, RecordLayoutAndLineEnds) {
    testing::internal::CaptureStdout();
    {
        Logger logger("layout.log");
        logger.Error() << kContext << " - " << std::string("SetupDiGetClassDevs failed (5)");
        logger.Warning() << kContext << " - "
                         << "";
        logger.Error() << kContext << " - "
                       << "CreateFile PIPE Error\r\n failed (2)";
    }  // the writer finishes its queue before it is destroyed
    std::cout.flush();
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string file = ReadWholeFile(LogFile("layout.log"));

    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )";
    const std::regex expected(
        stamp +
        R"(\[error\]: void __thiscall QUILL::UsbManager::Init\(bool\) - SetupDiGetClassDevs failed \(5\)\r\n)" +
        stamp + R"(\[warning\]: void __thiscall QUILL::UsbManager::Init\(bool\) - \r\n)" + stamp +
        R"(\[error\]: void __thiscall QUILL::UsbManager::Init\(bool\) - CreateFile PIPE Error\r\r\n failed \(2\)\r\n)");
    EXPECT_TRUE(std::regex_match(file, expected)) << file;
    EXPECT_EQ(out, file);
}

TEST_F(LoggerTest, RecordsFromTwoThreadsStayWholeLines) {
    constexpr int kPerThread = 500;
    testing::internal::CaptureStdout();
    {
        Logger logger("threads.log");
        auto report = [&logger](const std::string& who) {
            for (int i = 0; i < kPerThread; ++i) {
                logger.Error() << who << " - "
                               << "record " + std::to_string(i);
            }
        };
        std::thread a(report, "first"), b(report, "second");
        a.join();
        b.join();
    }
    std::cout.flush();
    testing::internal::GetCapturedStdout();

    std::istringstream lines(ReadWholeFile(LogFile("threads.log")));
    const std::regex line(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \[error\]: (first|second) - record (\d+)\r)");
    int next[2] = {0, 0};
    std::string text;
    int count = 0;
    while (std::getline(lines, text)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(text, match, line)) << text;
        // Lines of one thread keep the order in which they were issued.
        int& expectedNumber = next[match[1] == "first" ? 0 : 1];
        EXPECT_EQ(std::stoi(match[2]), expectedNumber);
        ++expectedNumber;
        ++count;
    }
    EXPECT_EQ(count, 2 * kPerThread);
}

TEST_F(LoggerTest, MissingFolderStillReachesStandardOutput) {
    testing::internal::CaptureStdout();
    {
        Logger logger("no-such-folder/missing.log");
        logger.Error() << kContext << " - "
                       << "first";
        logger.Error() << kContext << " - "
                       << "second";
    }
    std::cout.flush();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(FileExists(LogFile("no-such-folder/missing.log")));
    EXPECT_NE(out.find(" - first\r\n"), std::string::npos);
    EXPECT_NE(out.find(" - second\r\n"), std::string::npos);
}

TEST_F(LoggerTest, OpeningTruncatesAnEarlierFile) {
    WriteWholeFile(LogFile("old.log"), "an earlier run's line\r\n");
    testing::internal::CaptureStdout();
    {
        Logger logger("old.log");
        logger.Warning() << kContext << " - "
                         << "new";
    }
    std::cout.flush();
    testing::internal::GetCapturedStdout();
    const std::string file = ReadWholeFile(LogFile("old.log"));
    EXPECT_EQ(file.find("earlier"), std::string::npos);
    EXPECT_NE(file.find(" - new\r\n"), std::string::npos);
}

TEST_F(LoggerTest, NullTextIsWrittenAsNull) {
    testing::internal::CaptureStdout();
    {
        Logger logger("null.log");
        logger.Error() << kContext << " - " << static_cast<const char*>(nullptr);
    }
    testing::internal::GetCapturedStdout();
    const std::string file = ReadWholeFile(LogFile("null.log"));
    EXPECT_EQ(file.substr(20), "[error]: " + std::string(kContext) + " - (null)\r\n");
}

}  // namespace

// The program as a process, with standard output a pipe whose reader has
// gone (`bladepost job.plt | head -n 0`): the records it writes there are
// lost without a report, and the exit code still tells the transfer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/support/deadline.h"
#include "tests/support/job_pattern.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_folder.h"

namespace {

TEST(ClosedOutput, ARecordWrittenWithoutAReaderChangesNoOutcome) {
    for (const char* desktop : {"scripted", "terminal"}) {
        SCOPED_TRACE(desktop);
        TempFolder folder;
        const std::string job = folder / "job.plt", received = folder / "received";
        WriteWholeFile(job, JobPattern(5000));
        const Deadline deadline(std::string("bladepost on the ") + desktop + " desktop",
                                std::chrono::seconds(30));
        // The first open fails: its record goes to standard output first.
        const ProcessResult result = RunProcess(
            {BLADEPOST_PATH, job},
            {std::string("EMU_DESKTOP=") + desktop, "EMU_USB_DEVICES=2E7A:4C01:1A2:1:" + received,
             "EMU_FAULTS=WinUsb_Initialize:1:31", "EMU_COMMON_APPDATA=" + folder.Path()},
            Output::ReaderGone);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(ReadWholeFile(received) == ReadWholeFile(job)) << "the cutter got other bytes";
    }
}

}  // namespace

// Started from a launcher whose display cannot be opened: no terminal either,
// so the one place left to say why is standard error.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/support/deadline.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_folder.h"

namespace {

TEST(NoDesktop, ADisplayThatCannotBeOpenedIsNamedOnStandardError) {
    TempFolder folder;
    const Deadline deadline("bladepost with a display that is not there", std::chrono::seconds(30));
    const ProcessResult result = RunProcess(
        {BLADEPOST_PATH}, {"EMU_DESKTOP=", "DISPLAY=:4093", "WAYLAND_DISPLAY=", "GDK_BACKEND=x11",
                           "LC_ALL=C", "EMU_USB_DEVICES=", "EMU_COMMON_APPDATA=" + folder.Path()});
    EXPECT_EQ(result.exitCode, 2) << "not the chooser's cancel: " << result.err;
    EXPECT_EQ(
        result.err,
        "bladepost: no desktop to show: DISPLAY=:4093 cannot be opened (Cannot open display)\n");
}

}  // namespace

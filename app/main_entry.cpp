// The whole life of the process: find the file and the cutter, send once,
// and tell the outcome in the exit code.
#include <iterator>

#include "app/command_line.h"
#include "app/cutter_list.h"
#include "app/file_dialog.h"
#include "app/front_end_state.h"
#include "app/message_box.h"
#include "app/transfer.h"
#include "log/exception.h"
#include "log/logger.h"
#include "usb/usb_listener.h"

namespace {

enum ExitCode { kSent = 0, kFailed = 1, kNoFile = 2 };

const char kEntryContext[] =
    "int __stdcall wWinMain(struct HINSTANCE__ *,struct HINSTANCE__ *,wchar_t *,int)";

std::size_t ConnectedCount() {
    return usbListener.connectedCutters.size();
}

// Shows the file-open dialog until a file is chosen with a cutter, or the
// user gives up. Returns the exit code to end with, or -1 to go on sending.
int SelectFileAndCutter(HINSTANCE instance, WCHAR (&fileName)[MAX_PATH]) {
    OPENFILENAMEW record = MakeFileDialogRecord(instance, fileName);
    do {
        const FileDialogResult result = ShowFileDialog(record);
        if (!result.enumerationFailure.empty()) {
            ShowWarning(result.enumerationFailure);
            return kFailed;
        }
        if (result.chosen != TRUE) return result.chosen == FALSE ? kNoFile : kSent;
    } while (SelectedCutterIndex == -1);
    return -1;
}

// Tells the user of a failure that ended the run, and logs it when `log` and
// the log can be reached. Nothing may escape: the process must end with 1.
int Fail(const char* text, bool log) noexcept {
    try {
        if (log) Logger::Instance().Error() << kEntryContext << " - " << text;
    } catch (...) {
        // The log cannot be created; the user is still told.
    }
    try {
        ShowWarning(text);
    } catch (...) {
        // Not even the box could be shown: the exit code still tells.
    }
    return kFailed;
}

int Run(HINSTANCE instance, const WCHAR* commandLine) {
    WCHAR fileName[MAX_PATH] = {};
    bool select = true;
    if (commandLine[0] != L'\0') {
        FillCutterList(nullptr, false);
        if (ConnectedCount() >= 1 && !TakeCommandLine(commandLine, fileName)) return kFailed;
        if (ConnectedCount() == 1) {
            SelectedCutterIndex = 0;
            select = false;
        }
        // Two or more cutters: the user picks one, the named file filled in.
    }
    if (select) {
        const int ended = SelectFileAndCutter(instance, fileName);
        if (ended >= 0) return ended;
    }
    // Exit code 0 means sent: a position that names no cutter is a failure.
    if (SelectedCutterIndex < 0 ||
        static_cast<std::uint32_t>(SelectedCutterIndex) >= ConnectedCount()) {
        return kFailed;
    }
    auto entry = std::next(usbListener.connectedCutters.begin(), SelectedCutterIndex);
    return TransferFile(fileName, entry->second) ? kSent : kFailed;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    InitCommonControls();
    try {
        return Run(instance, commandLine != nullptr ? commandLine : L"");
    } catch (const QUILL::Exception& failure) {
        // The device list could not be obtained; enumeration has logged it.
        return Fail(failure.what(), false);
    } catch (const std::exception& failure) {
        return Fail(failure.what(), true);
    } catch (...) {
        return Fail(kUnknownFailure, true);
    }
}

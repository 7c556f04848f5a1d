#include "app/file_dialog.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <type_traits>

#include "app/cutter_list.h"
#include "app/front_end_state.h"
#include "app/message_box.h"
#include "log/exception.h"
#include "log/logger.h"
#include "resources/resource.h"
#include "usb/usb_listener.h"

std::int32_t SelectedCutterIndex = -1;
HWND FileDialogWindow = nullptr;

namespace {

// The hook's only way to hand a failure back to ShowFileDialog, which is
// blocked in GetOpenFileNameW meanwhile; used on the user-interface thread only.
std::string* hookFailure = nullptr;

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(OPENFILENAMEW) == 88, "the full record, with pvReserved and FlagsEx");
#endif
// The dialog calls the hook as an LPOFNHOOKPROC, __stdcall on 32-bit Windows.
static_assert(std::is_same<decltype(&OpenDialogHook), LPOFNHOOKPROC>::value, "an LPOFNHOOKPROC");

const char kHookContext[] =
    "unsigned int __stdcall OpenDialogHook(struct HWND__ *,unsigned int,unsigned int,long)";

void LogHookFailure(const char* text) {
    try {
        Logger::Instance().Error() << kHookContext << " - " << text;
    } catch (...) {
        // The log cannot be created; the user is still told.
    }
}

// Room for the failure text, made before the dialog: the hook copies it
// into this without allocating, as it may be out of memory.
constexpr std::size_t kFailureTextCapacity = 255;

// Closes the dialog without a file; ShowFileDialog reports `why`.
void GiveUp(const char* why) noexcept {
    if (hookFailure != nullptr) {
        hookFailure->assign(why, std::min(std::strlen(why), hookFailure->capacity()));
    }
    PostMessageW(FileDialogWindow, WM_COMMAND, IDCANCEL, 0);
}

// Lists the cutters in the dialog. No exception may leave the hook: it would
// unwind through the common-dialog library's frames.
void FillListInDialog(HWND dialog) {
    try {
        FillCutterList(GetDlgItem(dialog, IDC_OUTPUT), true);
    } catch (const QUILL::Exception& failure) {
        GiveUp(failure.what());  // enumeration has logged it
    } catch (const std::exception& failure) {
        LogHookFailure(failure.what());
        GiveUp(failure.what());
    } catch (...) {
        LogHookFailure(kUnknownFailure);
        GiveUp(kUnknownFailure);
    }
}

}  // namespace

void CenterDialog() {
    HWND parent = GetParent(FileDialogWindow);
    if (parent == nullptr) parent = GetDesktopWindow();
    RECT outer{}, inner{};
    GetWindowRect(parent, &outer);
    GetWindowRect(FileDialogWindow, &inner);
    const int dx = ((outer.right - outer.left) - (inner.right - inner.left)) / 2;
    const int dy = ((outer.bottom - outer.top) - (inner.bottom - inner.top)) / 2;
    SetWindowPos(FileDialogWindow, HWND_TOP, outer.left + dx, outer.top + dy, 0, 0, SWP_NOSIZE);
}

UINT_PTR CALLBACK OpenDialogHook(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        FileDialogWindow = GetParent(dialog);
        CenterDialog();
        SendMessageW(FileDialogWindow, CDM_SETCONTROLTEXT, IDOK,
                     reinterpret_cast<LPARAM>(L"&Send"));
        SendMessageW(FileDialogWindow, CDM_HIDECONTROL, chx1, 0);
        FillListInDialog(dialog);
        return TRUE;
    }
    if (message == WM_NOTIFY) {
        // The dialog has grown by the cutter panel since WM_INITDIALOG: only
        // now does centring put it in the middle of the screen.
        if (reinterpret_cast<const OFNOTIFYW*>(lParam)->hdr.code == CDN_INITDONE) CenterDialog();
        return 0;
    }
    if (message != WM_COMMAND) return 0;
    switch (LOWORD(wParam)) {
        case IDC_OUTPUT:
            if (HIWORD(wParam) == CBN_SELCHANGE && !usbListener.connectedCutters.empty()) {
                SelectedCutterIndex = static_cast<std::int32_t>(
                    SendMessageW(reinterpret_cast<HWND>(lParam), CB_GETCURSEL, 0, 0));
            }
            return 0;
        case IDCANCEL:
            EndDialog(dialog, 2);
            return TRUE;
        case IDC_REFRESH:
            FillListInDialog(dialog);
            return 0;
        default:
            return 0;
    }
}

FileDialogResult ShowFileDialog(OPENFILENAMEW& record) {
    FileDialogResult result{FALSE, std::string()};
    result.enumerationFailure.reserve(kFailureTextCapacity);
    hookFailure = &result.enumerationFailure;
    result.chosen = GetOpenFileNameW(&record);
    hookFailure = nullptr;
    return result;
}

OPENFILENAMEW MakeFileDialogRecord(HINSTANCE instance, WCHAR* fileName) {
    OPENFILENAMEW record{};
    record.lStructSize = sizeof record;
    record.hwndOwner = nullptr;
    record.hInstance = instance;
    record.lpstrFilter = L"Data Files (*.plt;*.pm)\0*.plt;*.pm\0All Files (*.*)\0*.*\0";
    record.nFilterIndex = 1;
    record.lpstrFile = fileName;
    record.nMaxFile = MAX_PATH;
    record.lpstrTitle = L"Send to Cutter Utility";
    record.Flags =
        OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ENABLETEMPLATE | OFN_ENABLEHOOK;
    record.lpfnHook = OpenDialogHook;
    record.lpTemplateName = MAKEINTRESOURCEW(IDD_OUTPUT_SELECT);
    record.FlagsEx = OFN_EX_NOPLACESBAR;
    return record;
}

// Shows the program's two dialogs the way the utility uses them: the
// file-open dialog extended by template 101 through a hook, then the
// progress dialog 102 fed from a worker thread. Built for Linux (terminal
// desktop) and Windows, where it proves the resource script under Wine.
//
//   dialog_demo                  a person chooses; progress runs to 100
//   dialog_demo --hold-at N      the same, but progress stops at N (for tests)
//   dialog_demo --auto PATH      drives itself: picks the second output, names
//                                PATH, presses Send, then Escape at the end
//
// Exit code: 0 sent, 1 cancelled or a check failed, 2 file dialog cancelled.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "resources/resource.h"

namespace {

constexpr UINT WM_SETPROGRESS = WM_USER + 1;
constexpr UINT WM_DEMO_AUTO = WM_APP;
constexpr LPARAM kMarker = 0x5EED;

struct Demo {
    bool automatic = false;
    int holdAt = 101;  // never
    std::wstring autoPath;
    int selected = -1;
    int failures = 0;
    bool cancelled = false;
    int finalPosition = -1;
} demo;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    std::fflush(stdout);
    if (!ok) ++demo.failures;
}

void FillList(HWND list) {
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    WCHAR entry[64];
    wsprintfW(entry, L"Demo cutter %c (#%X)", L'A', 0x1F2Eu);
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Demo cutter B"));
    SendMessageW(list, CB_SETCURSEL, 0, 0);
    demo.selected = 0;
}

void CenterOnDesktop(HWND window) {
    HWND parent = GetParent(window);
    if (parent == nullptr) parent = GetDesktopWindow();
    RECT outer, inner;
    GetWindowRect(parent, &outer);
    GetWindowRect(window, &inner);
    const int dx = ((outer.right - outer.left) - (inner.right - inner.left)) / 2;
    const int dy = ((outer.bottom - outer.top) - (inner.bottom - inner.top)) / 2;
    SetWindowPos(window, HWND_TOP, outer.left + dx, outer.top + dy, 0, 0, SWP_NOSIZE);
}

// Acts as a user would, once the dialog is up: the next entry of the list by
// keyboard, a file name, then the Send button.
void DriveFileDialog(HWND child) {
    HWND top = GetParent(child);
    PostMessageW(GetDlgItem(child, IDC_OUTPUT), WM_KEYDOWN, VK_DOWN, 0);
    const LPARAM path = reinterpret_cast<LPARAM>(demo.autoPath.c_str());
    SendMessageW(top, CDM_SETCONTROLTEXT, cmb13, path);
    SendMessageW(top, CDM_SETCONTROLTEXT, edt1, path);  // older dialogs name the box edt1
    PostMessageW(top, WM_COMMAND, IDOK, 0);
}

UINT_PTR CALLBACK OpenDialogHook(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* record = reinterpret_cast<const OPENFILENAMEW*>(lParam);
        Check(record != nullptr && record->lCustData == kMarker, "hook gets the record");
        HWND top = GetParent(dialog);
        CenterOnDesktop(top);
        SendMessageW(top, CDM_SETCONTROLTEXT, IDOK, reinterpret_cast<LPARAM>(L"&Send"));
        SendMessageW(top, CDM_HIDECONTROL, chx1, 0);
        FillList(GetDlgItem(dialog, IDC_OUTPUT));
        if (demo.automatic) PostMessageW(dialog, WM_DEMO_AUTO, 0, 0);
        return TRUE;
    }
    if (message == WM_DEMO_AUTO) DriveFileDialog(dialog);
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_OUTPUT && HIWORD(wParam) == CBN_SELCHANGE) {
        demo.selected =
            static_cast<int>(SendMessageW(reinterpret_cast<HWND>(lParam), CB_GETCURSEL, 0, 0));
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_REFRESH) {
        FillList(GetDlgItem(dialog, IDC_OUTPUT));
    }
    return 0;
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_DESTROY:
            PostQuitMessage(0);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDCANCEL) return FALSE;
            demo.cancelled = true;
            DestroyWindow(dialog);
            return TRUE;
        case WM_SETPROGRESS:
            SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, wParam, 0);
            if (wParam > 100 && demo.automatic) {
                demo.finalPosition =
                    static_cast<int>(SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0));
                PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);  // the user gives up
            }
            return TRUE;
        default:
            return FALSE;
    }
}

bool ChooseFile(WCHAR (&fileName)[MAX_PATH]) {
    OPENFILENAMEW record{};
    record.lStructSize = sizeof record;
    record.hInstance = GetModuleHandleW(nullptr);
    record.lpstrFilter = L"Data Files (*.plt;*.pm)\0*.plt;*.pm\0All Files (*.*)\0*.*\0";
    record.nFilterIndex = 1;
    record.lpstrFile = fileName;
    record.nMaxFile = MAX_PATH;
    record.lpstrTitle = L"Send to Cutter Utility";
    record.Flags =
        OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ENABLETEMPLATE | OFN_ENABLEHOOK;
    record.lCustData = kMarker;
    record.lpfnHook = OpenDialogHook;
    record.lpTemplateName = MAKEINTRESOURCEW(IDD_OUTPUT_SELECT);
    record.FlagsEx = OFN_EX_NOPLACESBAR;
    const BOOL chosen = GetOpenFileNameW(&record);
    if (!chosen) std::printf("file dialog ended without a file (%lu)\n", CommDlgExtendedError());
    return chosen == TRUE;
}

// Feeds the bar as a transfer would: from another thread, by posted messages.
void FeedProgress(HWND dialog) {
    for (int percent = 0; percent <= 100 && IsWindow(dialog); percent += demo.automatic ? 25 : 1) {
        if (percent > demo.holdAt) return;
        PostMessageW(dialog, WM_SETPROGRESS, static_cast<WPARAM>(percent), 0);
        if (!demo.automatic) std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    // Past the end: the bar keeps to its range.
    if (demo.automatic) PostMessageW(dialog, WM_SETPROGRESS, 150, 0);
}

bool RunProgress() {
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS),
                                     nullptr, ProgressDialogProc, 0);
    Check(dialog != nullptr, "progress dialog 102 created");
    if (dialog == nullptr) return false;
    ShowWindow(dialog, SW_SHOW);
    std::thread feeder(FeedProgress, dialog);
    MSG msg;
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
        if (IsWindow(dialog) && IsDialogMessageW(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        if (!demo.automatic && IsWindow(dialog) &&
            SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0) >= 100) {
            DestroyWindow(dialog);
        }
    }
    feeder.join();
    Check(got == 0 && !IsWindow(dialog), "loop ended by WM_QUIT with the dialog gone");
    return !demo.cancelled;
}

bool ParseArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--auto") == 0 && i + 1 < argc) {
            demo.automatic = true;
            const std::string path = argv[++i];
            demo.autoPath.assign(path.begin(), path.end());
        } else if (std::strcmp(argv[i], "--hold-at") == 0 && i + 1 < argc) {
            demo.holdAt = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: dialog_demo [--auto PATH] [--hold-at N]\n");
            return false;
        }
    }
    return true;
}

bool SamePath(const WCHAR* a, const std::wstring& b) {
#ifdef _WIN32
    return _wcsicmp(a, b.c_str()) == 0;
#else
    return b == a;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (!ParseArguments(argc, argv)) return 1;
    InitCommonControls();
    WCHAR fileName[MAX_PATH] = {};
    if (!ChooseFile(fileName)) return demo.automatic ? 1 : 2;
    std::printf("chosen: %ls, output %d\n", fileName, demo.selected + 1);
    if (demo.automatic) {
        Check(SamePath(fileName, demo.autoPath), "the named file is returned");
        Check(demo.selected == 1, "the second output was chosen");
    }
    const bool sent = RunProgress();
    if (demo.automatic) {
        Check(demo.cancelled, "Escape cancelled the progress dialog");
        Check(demo.finalPosition == 100, "position 150 is kept at 100");
        std::printf("%s\n", demo.failures == 0 ? "demo passed" : "demo FAILED");
        return demo.failures == 0 ? 0 : 1;
    }
    MessageBoxA(nullptr, sent ? "The file was sent (to nothing: this is a demo)." : "Cancelled.",
                "bladepost", MB_ICONINFORMATION);
    return sent ? 0 : 1;
}

// Loaded into the program under test by a thread hook of dialog_probe or
// scenario_runner: sees every position the program gives its progress bar,
// on the program's own thread, and what its progress dialog shows, and keeps
// them in memory the hooking process shares. The probe cannot ask the bar
// itself at the end: the program destroys the dialog right after the last
// position, without pumping messages in between. Where the runner asks, it
// holds the thread at a position until the runner has acted there. It also
// measures a static text in the control's own font when the probe asks.
#include "platform/win32.h"
#include "resources/resource.h"
#include "tests/wine/progress_watch.h"

namespace {

ProgressRecord* Record() {
    static ProgressRecord* record = [] {
        HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kProgressRecordName);
        if (mapping == nullptr) return static_cast<ProgressRecord*>(nullptr);
        void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ProgressRecord));
        CloseHandle(mapping);  // the view keeps the memory
        return static_cast<ProgressRecord*>(view);
    }();
    return record;
}

BOOL CALLBACK CopyFirstLabel(HWND child, LPARAM data) {
    WCHAR name[32] = {};
    GetClassNameW(child, name, 32);
    // The style, not IsWindowVisible: the dialog itself is not shown yet
    // when it is initialised.
    if (lstrcmpiW(name, L"Static") != 0 || (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) == 0) {
        return TRUE;
    }
    auto* record = reinterpret_cast<ProgressRecord*>(data);
    GetWindowTextW(child, record->text, kMaxDialogText);
    return record->text[0] == L'\0';
}

// Keeps what the progress dialog shows, for a runner that comes too late to
// see it.
void RememberDialog(HWND dialog) {
    ProgressRecord* record = Record();
    if (record == nullptr) return;
    record->dialog = HandleToLong(dialog);
    GetWindowTextW(dialog, record->title, kMaxDialogText);
    record->text[0] = L'\0';
    EnumChildWindows(dialog, CopyFirstLabel, reinterpret_cast<LPARAM>(record));
    InterlockedExchange(&record->shown, 1);
}

void RememberBox(HWND box) {
    ProgressRecord* record = Record();
    if (record == nullptr || record->boxCount >= kMaxBoxes) return;
    BoxRecord& seen = record->boxes[record->boxCount];
    seen.window = HandleToLong(box);
    GetWindowTextW(box, seen.caption, kMaxDialogText);
    GetDlgItemTextW(box, kMessageBoxTextId, seen.text, kMaxDialogText);
    InterlockedIncrement(&record->boxCount);
}

// Stops the thread at every hold that `position` has reached, each until
// the runner lets it go.
void HoldAt(LONG position) {
    ProgressRecord* record = Record();
    if (record == nullptr) return;
    while (record->held < record->holdCount && record->held < kMaxHolds &&
           position >= record->holds[record->held]) {
        const LONG number = InterlockedIncrement(&record->held);
        const DWORD start = GetTickCount();
        while (record->released < number && GetTickCount() - start < kHoldLimitMs) Sleep(1);
    }
}

// The text of `control` against its client width, in the font the control
// draws with. The record is mapped afresh for each answer: the DLL may stay
// loaded in the program after an earlier probe has gone with its memory.
void MeasureText(HWND control) {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kTextFitRecordName);
    if (mapping == nullptr) return;
    auto* fit = static_cast<TextFitRecord*>(
        MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(TextFitRecord)));
    CloseHandle(mapping);
    if (fit == nullptr) return;
    WCHAR text[kMaxDialogText] = {};
    const int length = GetWindowTextW(control, text, kMaxDialogText);
    const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    SIZE extent{};
    fit->measured = FALSE;
    fit->face[0] = L'\0';
    if (HDC dc = GetDC(control)) {
        // Without its own font a control draws in the system font, which is
        // not the dialog's: leave it unmeasured.
        HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
        if (previous != nullptr) {
            GetTextFaceW(dc, LF_FACESIZE, fit->face);
            fit->measured = GetTextExtentPoint32W(dc, text, length, &extent);
            SelectObject(dc, previous);
        }
        ReleaseDC(control, dc);
    }
    RECT client{};
    GetClientRect(control, &client);
    fit->extent = extent.cx;
    fit->width = client.right - client.left;
    InterlockedExchange(&fit->done, 1);
    UnmapViewOfFile(fit);
}

// Hooked into every thread of the session when the runner watches one
// process: the others pass through untouched.
bool Watched() {
    const ProgressRecord* record = Record();
    return record != nullptr &&
           (record->process == 0 || static_cast<DWORD>(record->process) == GetCurrentProcessId());
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    WatchProgress(int code, WPARAM wParam, LPARAM lParam) {
    if (!Watched()) return CallNextHookEx(nullptr, code, wParam, lParam);
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call != nullptr && call->message == WM_INITDIALOG) {
        if (GetDlgItem(call->hwnd, IDC_PROGRESS) != nullptr) RememberDialog(call->hwnd);
        if (GetDlgItem(call->hwnd, kMessageBoxTextId) != nullptr) RememberBox(call->hwnd);
    }
    if (code == HC_ACTION && call != nullptr && call->message == PBM_SETPOS) {
        WCHAR name[32] = {};
        GetClassNameW(call->hwnd, name, 32);
        ProgressRecord* record = Record();
        if (record != nullptr && lstrcmpiW(name, PROGRESS_CLASSW) == 0) {
            // What the bar holds now, asked of the bar itself.
            const LONG position = static_cast<LONG>(SendMessageW(call->hwnd, PBM_GETPOS, 0, 0));
            if (record->count < kMaxPositions) {
                record->positions[record->count] = position;
                InterlockedIncrement(&record->count);
            }
            RememberDialog(GetParent(call->hwnd));
            HoldAt(position);
        }
    }
    static const UINT measureText = RegisterWindowMessageW(kMeasureTextMessage);
    if (code == HC_ACTION && call != nullptr && measureText != 0 && call->message == measureText) {
        MeasureText(call->hwnd);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

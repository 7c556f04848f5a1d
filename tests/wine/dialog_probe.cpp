// Finds the dialogs of a running bladepost by their title, reads their
// controls and drives them the way a person would, and prints what it saw
// as "name=value" lines for scripts/wine-e2e to check. Every wait is bounded;
// a dialog that never comes ends the probe with exit code 1.
//
//   dialog_probe inspect [--refresh] [--drop-down]   the file-open dialog
//   dialog_probe dump                                every control of it
//   dialog_probe cancel-file-dialog
//   dialog_probe send PATH [--cutter N]    picks PATH (and cutter N), presses
//                                          Send and follows the progress dialog
//                                          to its end
//   dialog_probe type-missing PATH         types PATH of a missing file, presses
//                                          Send, reads and closes the dialog's
//                                          own refusal, and whether it stays open
//   dialog_probe wait-progress [--at-least N]   until the bar is at N (1)
//   dialog_probe cancel-progress           presses Cancel on the progress dialog
//   dialog_probe text-fit                  whether each static text of the
//                                          progress dialog fits its control in
//                                          the dialog's font
//   dialog_probe resources EXE             the manifest and version of EXE
//   dialog_probe answer-message-box        presses OK on the message box and
//                                          waits for the program to end
//   dialog_probe unplug PORT               during the transfer, unplugs the
//                                          virtual cutter on PORT, then answers
//                                          the message box that follows
//   dialog_probe shell-verb VERB FILE [--class CLASS]
//                                          starts FILE's VERB the way the shell
//                                          does (ShellExecuteExW), under the
//                                          verbs of CLASS if given, and waits
//                                          for the program it started
//   dialog_probe related-products UPGRADE_CODE
//                                          the installed products of that
//                                          upgrade code and their versions
//   dialog_probe sddl TEXT                 the access entries TEXT grants
//   dialog_probe wait-window TITLE [N]     until a top-level window TITLE shows
//                                          (with N entries in its list view, painted)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"

#include <msi.h>
#include <sddl.h>
#include <shellapi.h>
#include "resources/resource.h"
#include "tests/wine/dialog_windows.h"
#include "tests/wine/progress_watch.h"
#include "tests/wine/watched_progress.h"

namespace {

using namespace dialog_windows;

constexpr auto kPatience = std::chrono::seconds(60);
constexpr auto kPoll = std::chrono::milliseconds(10);

void Report(const char* name, const std::string& value) {
    std::printf("%s=%s\n", name, value.c_str());
    std::fflush(stdout);
}

void Report(const char* name, const std::wstring& value) {
    Report(name, Narrow(value));
}

[[noreturn]] void Fail(const std::string& why) {
    std::printf("probe-error=%s\n", why.c_str());
    std::fflush(stdout);
    std::exit(1);
}

template <typename Find>
HWND WaitFor(Find find, const char* what) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
        if (HWND window = find()) return window;
        std::this_thread::sleep_for(kPoll);
    }
    Fail(std::string("no ") + what + " within 60 s");
}

void WaitGone(HWND window, const char* what) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (IsWindow(window)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            Fail(std::string(what) + " still open after 60 s");
        }
        std::this_thread::sleep_for(kPoll);
    }
}

// Waits until a list view in `window` holds `items` entries, then has it
// paint them before the caller looks at the screen.
void WaitForListItems(HWND window, int items) {
    HWND list = WaitFor(
        [window, items]() -> HWND {
            for (HWND child : Descendants(window)) {
                if (ClassOf(child) == L"SysListView32" &&
                    Ask(child, LVM_GETITEMCOUNT, 0, 0) >= items)
                    return child;
            }
            return nullptr;
        },
        "list view with that many entries");
    UpdateWindow(list);
    Report("list_items", std::to_string(static_cast<long>(Ask(list, LVM_GETITEMCOUNT, 0, 0))));
}

void ReportCombo(const char* name, HWND combo) {
    if (combo == nullptr) {
        Report(name, "missing");
        return;
    }
    const std::vector<std::wstring> entries = ComboEntries(combo);
    Report((std::string(name) + "_count").c_str(), std::to_string(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Report((std::string(name) + "[" + std::to_string(i) + "]").c_str(), entries[i]);
    }
    Report((std::string(name) + "_selected").c_str(),
           std::to_string(static_cast<long>(Ask(combo, CB_GETCURSEL, 0, 0))));
}

// Where `window` stands against the centre of the screen, in pixels of its
// centre's offset. `grown` is the height the window gained after it was
// placed (0 if none): the file-open dialog is centred when its hook starts,
// before it makes room for the cutter panel below its own controls.
void ReportCentring(HWND window, long grown) {
    RECT inner{}, screen{};
    GetWindowRect(window, &inner);
    GetWindowRect(GetDesktopWindow(), &screen);
    const long dx = ((inner.left + inner.right) - (screen.left + screen.right)) / 2;
    const long dy = ((inner.top + inner.bottom) - (screen.top + screen.bottom)) / 2;
    char place[128];
    std::snprintf(place, sizeof place, "%ld,%ld-%ld,%ld on a %ldx%ld screen", inner.left, inner.top,
                  inner.right, inner.bottom, screen.right - screen.left,
                  screen.bottom - screen.top);
    Report("placed", place);
    Report("centred_horizontally", std::labs(dx) <= 1 ? "yes" : "no");
    std::string vertical = "no";
    if (std::labs(dy) <= 1) {
        vertical = "yes";
    } else if (grown > 0 && std::labs(2 * dy - grown) <= 2) {
        vertical = "yes, before growing by " + std::to_string(grown) + " px";
    }
    Report("centred_vertically", vertical);
    Report("grown", std::to_string(grown));
}

long HeightOf(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect.bottom - rect.top;
}

void ReportLabels(const char* name, HWND dialog) {
    for (const std::wstring& label : Labels(dialog)) Report(name, label);
}

int Inspect(bool refresh, bool dropDown) {
    HWND dialog = WaitFor([] { return FindFileDialog(); }, "file-open dialog");
    HWND output = DescendantWithId(dialog, IDC_OUTPUT);
    // The hook fills the list while the dialog comes up: let it settle.
    WaitFor([output] { return Ask(output, CB_GETCOUNT, 0, 0) > 0 ? output : nullptr; },
            "entry in the output list");
    Report("file_dialog", Text(dialog));
    // The panel of template 101 is 32 dialog units high; its Refresh button
    // is 14, which gives the dialog's units in pixels.
    HWND refreshButton = GetDlgItem(GetParent(output), IDC_REFRESH);
    ReportCentring(dialog, refreshButton != nullptr ? (HeightOf(refreshButton) * 32 + 7) / 14 : 0);
    // The dialog's own buttons are its direct children: the file list inside
    // has a child with ID 1 too.
    HWND ok = GetDlgItem(dialog, IDOK);
    Report("open_button", ok != nullptr ? Text(ok) : L"missing");
    HWND readOnly = GetDlgItem(dialog, chx1);
    Report("read_only_box", readOnly == nullptr         ? "missing"
                            : IsWindowVisible(readOnly) ? "visible"
                                                        : "hidden");
    ReportCombo("filter", GetDlgItem(dialog, cmb1));
    ReportLabels("label", dialog);
    Report("refresh_button", refreshButton != nullptr ? Text(refreshButton) : L"missing");
    if (refresh && refreshButton != nullptr) {
        Ask(refreshButton, BM_CLICK, 0, 0);
        Report("refreshed", "yes");
    }
    ReportCombo("output", output);
    if (dropDown) {
        Ask(output, CB_SHOWDROPDOWN, TRUE, 0);
        Report("dropped_down", Ask(output, CB_GETDROPPEDSTATE, 0, 0) ? "yes" : "no");
    }
    return 0;
}

// Every control of the file-open dialog, for a person reading the output.
int Dump() {
    HWND dialog = WaitFor([] { return FindFileDialog(); }, "file-open dialog");
    for (HWND child : Descendants(dialog)) {
        char line[64];
        std::snprintf(line, sizeof line, "id %d parent %d %s", GetDlgCtrlID(child),
                      GetDlgCtrlID(GetParent(child)),
                      IsWindowVisible(child) ? "visible" : "hidden");
        Report(line, ClassOf(child) + L" \"" + Text(child) + L"\"");
    }
    return 0;
}

int CancelFileDialog() {
    HWND dialog = WaitFor([] { return FindFileDialog(); }, "file-open dialog");
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    WaitGone(dialog, "the file-open dialog");
    Report("file_dialog", "closed");
    return 0;
}

// Reports the message box the program shows, if any.
void ReportMessageBoxes() {
    for (HWND box : TopWindowsTitled(kMessageBoxTitle)) {
        std::wstring text;
        for (const std::wstring& label : Labels(box)) text += label;
        Report("message_box", text);
    }
}

void SetFileName(HWND dialog, const std::wstring& path) {
    HWND box = FileNameField(dialog);
    if (box == nullptr) Fail("the file dialog has no file-name field");
    Ask(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    Report("file_name", Text(box));
}

void ReportProgressDialog(HWND progress) {
    Report("progress_dialog", Text(progress));
    ReportLabels("progress_label", progress);
    HWND cancel = GetDlgItem(progress, IDCANCEL);
    Report("progress_cancel", cancel != nullptr ? Text(cancel) : L"missing");
}

// Follows the bar until the dialog is gone; every position seen is reported.
void FollowProgress(HWND progress) {
    HWND bar = DescendantWithId(progress, IDC_PROGRESS);
    std::string seen;
    long last = -1;
    long highest = -1;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (IsWindow(progress)) {
        if (std::chrono::steady_clock::now() >= deadline) Fail("the transfer took over 60 s");
        bool answered = false;
        const long position = static_cast<long>(Ask(bar, PBM_GETPOS, 0, 0, &answered));
        if (answered && IsWindow(bar) && position != last) {
            seen += (seen.empty() ? "" : " ") + std::to_string(position);
            last = position;
            if (position > highest) highest = position;
        }
        ReportMessageBoxes();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Report("progress_seen", seen);
    Report("progress_highest", std::to_string(highest));
}

// Puts progress_watch.dll into the thread of the program's `window`.
void HookThreadOf(HWND window, ProgressWatch* watch) {
    const std::string why = watch->Hook(GetWindowThreadProcessId(window, nullptr));
    if (!why.empty()) Fail(why);
}

// Every position the program gave its bar, seen through progress_watch.dll.
void ReportPositions(const ProgressWatch& watch) {
    const std::vector<LONG> all = watch.Positions();
    std::string positions;
    for (LONG position : all) {
        positions += (positions.empty() ? "" : " ") + std::to_string(position);
    }
    Report("bar_positions", positions);
    Report("bar_final", all.empty() ? "none" : std::to_string(all.back()));
}

int Send(const std::wstring& path, int cutter) {
    HWND dialog = WaitFor([] { return FindFileDialog(); }, "file-open dialog");
    HWND output = DescendantWithId(dialog, IDC_OUTPUT);
    WaitFor([output] { return Ask(output, CB_GETCOUNT, 0, 0) > 0 ? output : nullptr; },
            "entry in the output list");
    Ask(output, CB_SHOWDROPDOWN, FALSE, 0);
    if (cutter >= 0) ChooseEntry(output, cutter);
    Report("output_selected", std::to_string(static_cast<long>(Ask(output, CB_GETCURSEL, 0, 0))));
    SetFileName(dialog, path);
    HWND send = GetDlgItem(dialog, IDOK);
    if (send == nullptr) Fail("the file dialog has no Send button");
    ProgressWatch watch;
    HookThreadOf(dialog, &watch);
    Report("pressed", Text(send));
    PostMessageW(send, BM_CLICK, 0, 0);
    HWND progress = WaitFor([] { return FindProgressDialog(); }, "progress dialog");
    ReportProgressDialog(progress);
    FollowProgress(progress);
    ReportMessageBoxes();
    ReportPositions(watch);
    return 0;
}

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindOwnedBox(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<OwnedSearch*>(data);
    if (GetWindow(window, GW_OWNER) != search->owner || !IsWindowVisible(window) ||
        ClassOf(window) != L"#32770") {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

// Types the name of a file that does not exist and presses Send: the dialog
// itself must refuse it with a box of its own and stay open once that is
// closed with OK.
int TypeMissing(const std::wstring& path) {
    HWND dialog = WaitFor([] { return FindFileDialog(); }, "file-open dialog");
    HWND output = DescendantWithId(dialog, IDC_OUTPUT);
    WaitFor([output] { return Ask(output, CB_GETCOUNT, 0, 0) > 0 ? output : nullptr; },
            "entry in the output list");
    SetFileName(dialog, path);
    HWND send = GetDlgItem(dialog, IDOK);
    if (send == nullptr) Fail("the file dialog has no Send button");
    PostMessageW(send, BM_CLICK, 0, 0);
    HWND box = WaitFor(
        [dialog] {
            OwnedSearch search{dialog, nullptr};
            EnumWindows(FindOwnedBox, reinterpret_cast<LPARAM>(&search));
            return search.found;
        },
        "box of the file-open dialog");
    Report("refused_by", "the file-open dialog");
    Report("refusal_caption", Text(box));
    ReportLabels("refusal_text", box);
    HWND ok = GetDlgItem(box, IDOK);
    PostMessageW(ok != nullptr ? ok : box, ok != nullptr ? BM_CLICK : WM_CLOSE, 0, 0);
    WaitGone(box, "the refusing box");
    // Answered once the dialog's thread is back in the dialog's own loop.
    bool answered = false;
    Ask(dialog, WM_NULL, 0, 0, &answered);
    Report("file_dialog", answered && IsWindowVisible(dialog) ? "open" : "closed");
    return 0;
}

int WaitProgress(long atLeast) {
    HWND progress = WaitFor([] { return FindProgressDialog(); }, "progress dialog");
    HWND bar = DescendantWithId(progress, IDC_PROGRESS);
    WaitFor([bar, atLeast] { return Ask(bar, PBM_GETPOS, 0, 0) >= atLeast ? bar : nullptr; },
            "the progress bar at the position asked for");
    ReportProgressDialog(progress);
    Report("progress_position", std::to_string(static_cast<long>(Ask(bar, PBM_GETPOS, 0, 0))));
    ReportCentring(progress, 0);
    return 0;
}

// Each static text of the progress dialog, measured by progress_watch.dll on
// the program's thread in the font the control draws with, against the
// control's client width: "progress_text_fits=yes (183 of 446 px)".
int TextFit() {
    HWND progress = WaitFor([] { return FindProgressDialog(); }, "progress dialog");
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(TextFitRecord), kTextFitRecordName);
    if (mapping == nullptr) Fail("cannot share memory with progress_watch.dll");
    auto* fit = static_cast<TextFitRecord*>(
        MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(TextFitRecord)));
    if (fit == nullptr) Fail("cannot map the shared memory");
    const UINT measure = RegisterWindowMessageW(kMeasureTextMessage);
    ProgressWatch watch;
    HookThreadOf(progress, &watch);
    const std::vector<HWND> texts = StaticTexts(progress);
    if (texts.empty()) Fail("the progress dialog has no static text");
    for (HWND text : texts) {
        InterlockedExchange(&fit->done, 0);
        bool answered = false;
        Ask(text, measure, 0, 0, &answered);
        // The hook runs once the control has answered, and Wine may let the
        // call return before it: wait a bounded time for the measurement.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
        while (answered && fit->done == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kPoll);
        }
        if (!answered || fit->done == 0) {
            Fail("the program's thread did not measure \"" + Narrow(Text(text)) + "\" within 5 s");
        }
        Report("progress_text", Text(text));
        if (!fit->measured) {
            Report("progress_text_fits", "unmeasured (the control has no font of its own)");
            continue;
        }
        Report("progress_text_font", fit->face);
        char fits[64];
        std::snprintf(fits, sizeof fits, "%s (%ld of %ld px)",
                      fit->extent <= fit->width ? "yes" : "no", static_cast<long>(fit->extent),
                      static_cast<long>(fit->width));
        Report("progress_text_fits", fits);
    }
    UnmapViewOfFile(fit);
    CloseHandle(mapping);
    return 0;
}

int CancelProgress() {
    HWND progress = WaitFor([] { return FindProgressDialog(); }, "progress dialog");
    HWND bar = DescendantWithId(progress, IDC_PROGRESS);
    const long before = static_cast<long>(Ask(bar, PBM_GETPOS, 0, 0));
    Report("progress_position", std::to_string(before));
    HWND cancel = GetDlgItem(progress, IDCANCEL);
    if (cancel == nullptr) Fail("the progress dialog has no Cancel button");
    Report("pressed", Text(cancel));
    PostMessageW(cancel, BM_CLICK, 0, 0);
    DWORD process = 0;
    GetWindowThreadProcessId(progress, &process);
    WaitGone(progress, "the progress dialog");
    // A message box would come up after the dialog is gone: watch until the
    // process has ended.
    HANDLE running = OpenProcess(SYNCHRONIZE, FALSE, process);
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    bool ended = running == nullptr;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        ReportMessageBoxes();
        ended = WaitForSingleObject(running, 20) == WAIT_OBJECT_0;
    }
    if (running != nullptr) CloseHandle(running);
    ReportMessageBoxes();
    Report("program", ended ? "ended" : "still running");
    return 0;
}

// Waits for the program's message box, reports it, presses OK and waits
// until the program has ended.
int AnswerMessageBox() {
    HWND box = WaitFor(
        [] {
            const std::vector<HWND> boxes = TopWindowsTitled(kMessageBoxTitle);
            return boxes.empty() ? nullptr : boxes.front();
        },
        "message box");
    ReportMessageBoxes();
    DWORD process = 0;
    GetWindowThreadProcessId(box, &process);
    HANDLE running = OpenProcess(SYNCHRONIZE, FALSE, process);
    HWND ok = GetDlgItem(box, IDOK);
    if (ok == nullptr) Fail("the message box has no OK button");
    PostMessageW(ok, BM_CLICK, 0, 0);
    const bool ended =
        running == nullptr || WaitForSingleObject(running, kAnswerTimeoutMs) == WAIT_OBJECT_0;
    if (running != nullptr) CloseHandle(running);
    Report("program", ended ? "ended" : "still running");
    return 0;
}

// Through the event the stand-in DLLs watch (platform/windows_virtual).
int Unplug(const std::string& port) {
    HWND progress = WaitFor([] { return FindProgressDialog(); }, "progress dialog");
    DWORD process = 0;
    GetWindowThreadProcessId(progress, &process);
    const std::wstring name =
        L"Local\\bladepost-virtual-" + std::to_wstring(process) + L"-unplug-" + Widen(port);
    HANDLE unplug = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    if (unplug == nullptr || !SetEvent(unplug)) Fail("cannot set the unplug event");
    Report("unplugged", port);
    const int status = AnswerMessageBox();
    CloseHandle(unplug);
    return status;
}

std::wstring VersionString(const std::vector<char>& block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0) {
        return L"missing";
    }
    return static_cast<const wchar_t*>(value);
}

int Resources(const std::wstring& exe) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<char> block(size);
    if (size == 0 || !GetFileVersionInfoW(exe.c_str(), 0, size, block.data())) {
        Report("version", "missing");
    } else {
        Report("file_description", VersionString(block, L"FileDescription"));
        Report("file_version", VersionString(block, L"FileVersion"));
        Report("product_name", VersionString(block, L"ProductName"));
    }
    // Windows builds an activation context from the manifest when the
    // program starts; a malformed manifest would keep it from starting.
    ACTCTXW context{};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = exe.c_str();
    context.lpResourceName = MAKEINTRESOURCEW(1);  // CREATEPROCESS_MANIFEST_RESOURCE_ID
    HANDLE activation = CreateActCtxW(&context);
    if (activation == INVALID_HANDLE_VALUE) {
        Report("manifest", "refused (" + std::to_string(GetLastError()) + ")");
    } else {
        Report("manifest", "accepted");
        ReleaseActCtx(activation);
    }
    return 0;
}

// What Explorer does when a person picks VERB on FILE. Wine's shell finds
// verbs only under the file type's own class, so a test names the class
// that holds the verb, as Explorer does through its association list.
int ShellVerb(const std::wstring& verb, const std::wstring& file, const std::wstring& className) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    if (!className.empty()) {
        info.fMask |= SEE_MASK_CLASSNAME;
        info.lpClass = className.c_str();
    }
    info.lpVerb = verb.c_str();
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) {
        Report("shell_execute", "failed (" + std::to_string(GetLastError()) + ")");
        return 0;
    }
    Report("shell_execute", "started");
    if (info.hProcess == nullptr) {
        Report("program", "no process");
        return 0;
    }
    const bool ended = WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0;
    Report("program", ended ? "ended" : "still running");
    DWORD code = 0;
    if (ended && GetExitCodeProcess(info.hProcess, &code)) {
        Report("exit_code", std::to_string(code));
    }
    CloseHandle(info.hProcess);
    return 0;
}

int RelatedProducts(const std::wstring& upgradeCode) {
    int count = 0;
    for (DWORD i = 0;; ++i) {
        WCHAR product[39] = {};
        if (MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, i, product) != ERROR_SUCCESS) break;
        WCHAR version[64] = {};
        DWORD length = 64;
        if (MsiGetProductInfoW(product, L"VersionString", version, &length) != ERROR_SUCCESS) {
            std::wcscpy(version, L"unknown");
        }
        Report(("product_version[" + std::to_string(i) + "]").c_str(), std::wstring(version));
        ++count;
    }
    Report("product_count", std::to_string(count));
    return 0;
}

// Parses TEXT as Windows does when it applies it to a folder, and lists
// what each entry allows whom.
int Sddl(const std::wstring& text) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        Report("sddl", "refused (" + std::to_string(GetLastError()) + ")");
        return 0;
    }
    Report("sddl", "accepted");
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    Report("dacl_protected", (control & SE_DACL_PROTECTED) ? "yes" : "no");
    for (DWORD i = 0; present && acl != nullptr && i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace)) continue;
        const auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            Report("ace", "type " + std::to_string(header->AceType));
            continue;
        }
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        LPWSTR sid = nullptr;
        ConvertSidToStringSidW(&allowed->SidStart, &sid);
        char mask[16];
        std::snprintf(mask, sizeof mask, "0x%lx", static_cast<unsigned long>(allowed->Mask));
        std::string flags;
        if (header->AceFlags & OBJECT_INHERIT_ACE) flags += " files";
        if (header->AceFlags & CONTAINER_INHERIT_ACE) flags += " folders";
        if (header->AceFlags & INHERIT_ONLY_ACE) flags += " only";
        Report("ace", "allow " + Narrow(sid != nullptr ? sid : L"?") + " " + mask +
                          (flags.empty() ? "" : " inherited by" + flags));
        LocalFree(sid);
    }
    LocalFree(descriptor);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) Fail("no command");
    const std::string command = argv[1];
    bool refresh = false;
    bool dropDown = false;
    int cutter = -1;
    long atLeast = 1;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--refresh") refresh = true;
        if (option == "--drop-down") dropDown = true;
        if (option == "--cutter" && i + 1 < argc) cutter = std::atoi(argv[++i]);
        if (option == "--at-least" && i + 1 < argc) atLeast = std::atol(argv[++i]);
    }
    if (command == "inspect") return Inspect(refresh, dropDown);
    if (command == "dump") return Dump();
    if (command == "cancel-file-dialog") return CancelFileDialog();
    if (command == "send" && argc >= 3) return Send(Widen(std::string(argv[2])), cutter);
    if (command == "type-missing" && argc >= 3) return TypeMissing(Widen(std::string(argv[2])));
    if (command == "wait-progress") return WaitProgress(atLeast);
    if (command == "cancel-progress") return CancelProgress();
    if (command == "text-fit") return TextFit();
    if (command == "resources" && argc >= 3) return Resources(Widen(std::string(argv[2])));
    if (command == "answer-message-box") return AnswerMessageBox();
    if (command == "unplug" && argc >= 3) return Unplug(argv[2]);
    if (command == "shell-verb" && argc >= 4) {
        std::wstring className;
        for (int i = 4; i + 1 < argc; ++i) {
            if (std::string(argv[i]) == "--class") className = Widen(argv[i + 1]);
        }
        return ShellVerb(Widen(argv[2]), Widen(argv[3]), className);
    }
    if (command == "related-products" && argc >= 3) return RelatedProducts(Widen(argv[2]));
    if (command == "sddl" && argc >= 3) return Sddl(Widen(argv[2]));
    if (command == "wait-window" && argc >= 3) {
        const std::wstring title = Widen(argv[2]);
        HWND window = WaitFor(
            [&title] {
                HWND found = FindWindowW(nullptr, title.c_str());
                return found != nullptr && IsWindowVisible(found) ? found : nullptr;
            },
            "window with that title");
        // Its caption as the system keeps it: asking the window itself
        // (WM_GETTEXT) can time out while a busy program fills it.
        WCHAR caption[256] = {};
        GetWindowTextW(window, caption, 256);
        Report("window", caption);
        if (argc >= 4) WaitForListItems(window, std::atoi(argv[3]));
        return 0;
    }
    Fail("unknown command " + command);
}

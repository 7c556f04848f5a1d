// GetOpenFileNameW: the explorer-style file-open dialog with an application
// template and hook, modal on the calling thread.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/emu/user32/desktop.h"
#include "platform/emu/kernel32/devices.h"
#include "platform/emu/user32/dialog.h"
#include "platform/emu/faults.h"
#include "platform/emu/user32/interrupts.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/user32/user_api.h"

namespace emu {
namespace {

thread_local DWORD extendedError = 0;

// The dialog's own controls, with the IDs of dlgs.h; dialog units.
const ControlTemplate ownControls[] = {
    {L"File &name:", stc3, L"STATIC", SS_LEFT, 5, 120, 50, 8},
    {L"", cmb13, L"EDIT", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 60, 118, 155, 12},
    {L"&Open", IDOK, L"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, 222, 118, 50, 14},
    {L"Files of &type:", stc2, L"STATIC", SS_LEFT, 5, 137, 50, 8},
    {L"", cmb1, L"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 60, 135, 155, 90},
    {L"Cancel", IDCANCEL, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 222, 135, 50, 14},
    {L"Open as &read-only", chx1, L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, 60, 152, 100, 10},
};
constexpr int ownWidth = 280;   // dialog units
constexpr int ownHeight = 166;  // the application's child goes below this

// An application dialog with a hook but no template still gets a child.
const DialogTemplate emptyChild = {0, WS_CHILD, 0, L"", 0, 0, 0, 0, nullptr, 0};

std::wstring WidePath(const std::string& path) {
    int count = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(count, 1)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), count);
    wide.resize(wide.size() - 1);
    return wide;
}

bool IsFolder(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// Windows ignores blanks around a typed name and the quotes around it.
std::wstring Cleaned(std::wstring name) {
    while (!name.empty() && name.back() == L' ') name.pop_back();
    name.erase(0, name.find_first_not_of(L' ') == std::wstring::npos
                      ? name.size()
                      : name.find_first_not_of(L' '));
    if (name.size() >= 2 && name.front() == L'"' && name.back() == L'"') {
        name = name.substr(1, name.size() - 2);
    }
    return name;
}

class FileDialog : public DialogKind {
  public:
    FileDialog(OPENFILENAMEW* record, std::string folder)
        : DialogKind(nullptr), record_(record), folder_(std::move(folder)) {}

    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case WM_COMMAND:
                if (LOWORD(wParam) == IDOK) Accept(window);
                if (LOWORD(wParam) == IDCANCEL) End(FALSE);
                return 0;
            case CDM_SETCONTROLTEXT:
                SetWindowTextW(GetDlgItem(window, static_cast<int>(wParam)),
                               reinterpret_cast<LPCWSTR>(lParam));
                return 0;
            case CDM_HIDECONTROL:
                ShowWindow(GetDlgItem(window, static_cast<int>(wParam)), SW_HIDE);
                return 0;
            default:
                return DialogKind::Handle(window, message, wParam, lParam);
        }
    }

    BOOL outcome = FALSE;
    std::wstring chosen;

  private:
    void End(BOOL value) {
        ended = true;
        outcome = value;
    }

    void Refuse(HWND window, const std::wstring& name, const std::string& reason) {
        CurrentDesktop()->FileNameRefused(window, name, reason);
    }

    void Accept(HWND window) {
        WindowData box;
        if (!ReadWindow(GetDlgItem(window, cmb13), &box)) return;
        const std::wstring name = Cleaned(box.text);
        if (name.empty()) return;
        const std::string narrow = NarrowPath(name);
        const std::string path = narrow.front() == '/' ? narrow : folder_ + "/" + narrow;
        if (IsFolder(path)) {  // a folder's name opens the folder
            folder_ = path;
            SetWindowTextW(GetDlgItem(window, cmb13), L"");
            return;
        }
        if (!Exists(path)) {
            const std::string parent = path.substr(0, std::max<std::size_t>(path.rfind('/'), 1));
            if ((record_->Flags & OFN_PATHMUSTEXIST) != 0 && !IsFolder(parent)) {
                return Refuse(window, name, "The path does not exist.");
            }
            if ((record_->Flags & OFN_FILEMUSTEXIST) != 0) {
                return Refuse(window, name, "File not found.");
            }
        }
        Choose(WidePath(path));
    }

    void Choose(const std::wstring& path) {
        if (record_->lpstrFile == nullptr || path.size() + 1 > record_->nMaxFile) {
            // Windows ends the dialog and puts the size it needs, in
            // characters, into the buffer's first two bytes.
            extendedError = FNERR_BUFFERTOOSMALL;
            if (record_->lpstrFile != nullptr && record_->nMaxFile > 0) {
                record_->lpstrFile[0] = static_cast<WCHAR>((path.size() + 1) & 0xFFFF);
            }
            return End(FALSE);
        }
        std::copy(path.begin(), path.end(), record_->lpstrFile);
        record_->lpstrFile[path.size()] = L'\0';
        const std::size_t slash = path.rfind(L'/');
        const std::size_t offset = slash == std::wstring::npos ? 0 : slash + 1;
        const std::size_t dot = path.rfind(L'.');
        record_->nFileOffset = static_cast<WORD>(offset);
        record_->nFileExtension =
            static_cast<WORD>(dot == std::wstring::npos || dot < offset ? 0 : dot + 1);
        chosen = path;
        End(TRUE);
    }

    OPENFILENAMEW* record_;
    std::string folder_;
};

// The folder of a path already in the record's file buffer, or empty when it
// names none: Windows then opens there and shows the name alone.
std::string FolderOfFile(const OPENFILENAMEW& record) {
    if (record.lpstrFile == nullptr) return std::string();
    const std::string path = NarrowPath(record.lpstrFile);
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    return IsFolder(folder) ? folder : std::string();
}

// The record's filters, each the name shown and its patterns. The record
// holds pairs of NUL-terminated texts; an empty text ends them.
std::vector<std::pair<std::wstring, std::wstring>> FiltersOf(const OPENFILENAMEW& record) {
    std::vector<std::pair<std::wstring, std::wstring>> filters;
    for (const wchar_t* p = record.lpstrFilter; p != nullptr && *p != L'\0';) {
        const wchar_t* name = p;
        p += std::wcslen(p) + 1;
        filters.emplace_back(name, p);
        if (*p == L'\0') break;
        p += std::wcslen(p) + 1;
    }
    return filters;
}

// The patterns of the filter the dialog starts with ("*.plt;*.pm").
std::wstring StartPatterns(const OPENFILENAMEW& record) {
    const auto filters = FiltersOf(record);
    const std::size_t index = record.nFilterIndex > 0 ? record.nFilterIndex - 1 : 0;
    return index < filters.size() ? filters[index].second : L"";
}

// Whether `folder` holds a file that one of `patterns` matches, whatever
// the case, as Windows matches names.
bool HoldsFileOfTypes(const std::string& folder, const std::wstring& patterns) {
    std::vector<std::string> each;
    for (std::wstring::size_type start = 0; start <= patterns.size();) {
        std::wstring::size_type end = std::min(patterns.find(L';', start), patterns.size());
        if (end > start) each.push_back(NarrowPath(patterns.substr(start, end - start)));
        start = end + 1;
    }
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) return false;
    bool found = false;
    const dirent* entry = nullptr;
    while (!found && (entry = ::readdir(listing)) != nullptr) {
        for (const std::string& pattern : each) {
            found = found || (::fnmatch(pattern.c_str(), entry->d_name, FNM_CASEFOLD) == 0 &&
                              !IsFolder(folder + "/" + entry->d_name));
        }
    }
    ::closedir(listing);
    return found;
}

// Where the dialog opens, in the order Windows 7 and later look: the folder
// the program names, the folder of the file in its record, the folder this
// program's user last chose a file in, the working folder when it holds
// files of the filter's types, and the user's own folder.
std::string StartFolder(const OPENFILENAMEW& record) {
    if (record.lpstrInitialDir != nullptr && record.lpstrInitialDir[0] != L'\0') {
        return NarrowPath(record.lpstrInitialDir);
    }
    const std::string ofFile = FolderOfFile(record);
    if (!ofFile.empty()) return ofFile;
    const std::string last = NarrowPath(CurrentDesktop()->LastChosenFolder());
    if (!last.empty() && IsFolder(last)) return last;
    char buffer[4096];
    const std::string working = ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
    if (!working.empty() && HoldsFileOfTypes(working, StartPatterns(record))) return working;
    const char* home = std::getenv("HOME");
    if (home != nullptr && IsFolder(home)) return home;
    return working.empty() ? "/" : working;
}

// What the name box starts with: the file's name without its folder.
std::wstring StartName(const OPENFILENAMEW& record) {
    const std::wstring text = record.lpstrFile;
    if (FolderOfFile(record).empty()) return text;
    return text.substr(text.rfind(L'/') + 1);
}

void FillFilters(HWND top, const OPENFILENAMEW& record) {
    HWND types = GetDlgItem(top, cmb1);
    for (const auto& filter : FiltersOf(record)) {
        SendMessageW(types, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(filter.first.c_str()));
    }
    SendMessageW(types, CB_SETCURSEL, record.nFilterIndex > 0 ? record.nFilterIndex - 1 : 0, 0);
}

// What the dialog offers, for a desktop that shows a browser of its own.
FileDialogSetup SetupOf(const OPENFILENAMEW& record) {
    FileDialogSetup setup;
    setup.filters = FiltersOf(record);
    setup.filterIndex = record.nFilterIndex > 0 ? static_cast<int>(record.nFilterIndex) - 1 : 0;
    setup.folder = WidePath(StartFolder(record));
    const std::wstring name = record.lpstrFile != nullptr ? StartName(record) : L"";
    if (!name.empty()) setup.file = name.front() == L'/' ? name : setup.folder + L"/" + name;
    return setup;
}

// The top window starts with room for its own controls only; it grows for
// the application's child once the hook has initialised that.
HWND CreateTop(OPENFILENAMEW* record, const DialogTemplate& child,
               std::shared_ptr<FileDialog> kind) {
    const RECT client = DialogUnitsToPixels(0, 0, std::max(ownWidth, child.cx), ownHeight);
    NewWindow window;
    window.className = L"#32770";
    window.text = record->lpstrTitle != nullptr ? record->lpstrTitle : L"Open";
    window.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    window.parent = record->hwndOwner;
    window.rect = RECT{40, 40, 40 + 3 + client.right + 3, 40 + 26 + client.bottom + 3};
    HWND top = InsertWindow(window, std::move(kind));
    CreateControls(top, ownControls, sizeof ownControls / sizeof ownControls[0]);
    if (record->lpstrFile != nullptr) {
        SetWindowTextW(GetDlgItem(top, cmb13), StartName(*record).c_str());
    }
    FillFilters(top, *record);
    if ((record->Flags & OFN_HIDEREADONLY) != 0) ShowWindow(GetDlgItem(top, chx1), SW_HIDE);
    return top;
}

HWND CreateChild(OPENFILENAMEW* record, const DialogTemplate& child, HWND top) {
    DialogProcedure hook;
    if ((record->Flags & OFN_ENABLEHOOK) != 0 && record->lpfnHook != nullptr) {
        LPOFNHOOKPROC procedure = record->lpfnHook;
        hook = [procedure](HWND h, UINT m, WPARAM w, LPARAM l) {
            return static_cast<INT_PTR>(procedure(h, m, w, l));
        };
    }
    const POINT below{0, DialogUnitsToPixels(0, 0, 0, ownHeight).bottom};
    HWND handle = CreateDialogFromTemplate(child, top, below, std::make_shared<DialogKind>(hook),
                                           reinterpret_cast<LPARAM>(record));
    if (handle != nullptr) ShowWindow(handle, SW_SHOW);
    return handle;
}

// As Windows does after the hook's WM_INITDIALOG: the top window makes room
// for the child below its own controls, then tells the hook it is done.
void FinishLayout(OPENFILENAMEW* record, const DialogTemplate& child, HWND top, HWND childWindow) {
    RECT rect{};
    GetWindowRect(top, &rect);
    const LONG grow = DialogUnitsToPixels(0, 0, 0, child.cy).bottom;
    SetWindowPos(top, HWND_TOP, 0, 0, rect.right - rect.left, rect.bottom - rect.top + grow,
                 SWP_NOMOVE | SWP_NOZORDER);
    OFNOTIFYW done{{top, 0, CDN_INITDONE}, record, nullptr};
    SendMessageW(childWindow, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&done));
}

// Runs the dialog until it ends; false when the loop itself failed or met
// WM_QUIT, which it hands on to the caller's loop as Windows does.
bool RunModal(HWND top, const FileDialog& kind) {
    MSG msg;
    while (!kind.ended) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        if (got == -1) return false;
        if (!IsDialogMessageW(top, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

}  // namespace
}  // namespace emu

BOOL WINAPI GetOpenFileNameW(LPOPENFILENAMEW record) {
    emu::extendedError = 0;
    if (emu::InjectedFailure("GetOpenFileNameW")) {
        emu::extendedError = CDERR_DIALOGFAILURE;
        return FALSE;
    }
    if (record == nullptr || record->lStructSize != sizeof(OPENFILENAMEW)) {
        emu::extendedError = CDERR_STRUCTSIZE;
        return FALSE;
    }
    const emu::DialogTemplate* child = &emu::emptyChild;
    if ((record->Flags & OFN_ENABLETEMPLATE) != 0) {
        child = emu::FindDialogTemplate(record->hInstance, record->lpTemplateName);
        if (child == nullptr) {
            emu::extendedError = CDERR_FINDRESFAILURE;
            return FALSE;
        }
    }
    auto kind = std::make_shared<emu::FileDialog>(record, emu::StartFolder(*record));
    HWND top = emu::CreateTop(record, *child, kind);
    const bool applicationChild = (record->Flags & (OFN_ENABLETEMPLATE | OFN_ENABLEHOOK)) != 0;
    if (applicationChild) {
        HWND childWindow = emu::CreateChild(record, *child, top);
        if (childWindow == nullptr) {
            DestroyWindow(top);
            emu::extendedError = CDERR_DIALOGFAILURE;
            return FALSE;
        }
        emu::FinishLayout(record, *child, top, childWindow);
    }
    ShowWindow(top, SW_SHOW);
    emu::CancellableShown(top);
    emu::CurrentDesktop()->FileDialogOpened(top, emu::SetupOf(*record));
    if (!emu::RunModal(top, *kind) && emu::extendedError == 0) {
        emu::extendedError = CDERR_DIALOGFAILURE;
    }
    const BOOL result = kind->ended ? kind->outcome : FALSE;
    emu::CancellableGone(top);
    emu::CurrentDesktop()->FileDialogClosed(top, result, result ? kind->chosen : L"");
    DestroyWindow(top);
    return result;
}

DWORD WINAPI CommDlgExtendedError() {
    return emu::extendedError;
}

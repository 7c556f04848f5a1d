#include "tests/wine/dialog_windows.h"

#include <cwchar>

#include "resources/resource.h"

namespace dialog_windows {

const wchar_t kTitle[] = L"Send to Cutter Utility";
const wchar_t kMessageBoxTitle[] = L"bladepost";

namespace {

BOOL CALLBACK CollectChild(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

struct TitleSearch {
    const wchar_t* title;
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTitled(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<TitleSearch*>(data);
    WCHAR text[256] = {};
    GetWindowTextW(window, text, 256);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (IsWindowVisible(window) && std::wcscmp(text, search->title) == 0 &&
        (search->process == 0 || process == search->process)) {
        search->found.push_back(window);
    }
    return TRUE;
}

HWND FindTitledWith(int id, DWORD process) {
    for (HWND window : TopWindowsTitled(kTitle, process)) {
        if (DescendantWithId(window, id) != nullptr) return window;
    }
    return nullptr;
}

}  // namespace

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &narrow[0], size, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(size) - 1);
    return narrow;
}

std::wstring Widen(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], size);
    wide.resize(static_cast<std::size_t>(size) - 1);
    return wide;
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool* answered) {
    DWORD_PTR result = 0;
    const LRESULT ok = SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG,
                                           kAnswerTimeoutMs, &result);
    if (answered != nullptr) *answered = ok != 0;
    return static_cast<LRESULT>(result);
}

std::wstring Text(HWND window) {
    const LRESULT length = Ask(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
    Ask(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(std::wcslen(text.c_str()));
    return text;
}

std::wstring ClassOf(HWND window) {
    WCHAR name[128] = {};
    GetClassNameW(window, name, 128);
    return name;
}

std::vector<HWND> Descendants(HWND window) {
    std::vector<HWND> found;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND DescendantWithId(HWND window, int id) {
    for (HWND child : Descendants(window)) {
        if (GetDlgCtrlID(child) == id) return child;
    }
    return nullptr;
}

std::vector<HWND> TopWindowsTitled(const wchar_t* title, DWORD process) {
    TitleSearch search{title, process, {}};
    EnumWindows(CollectTitled, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindFileDialog(DWORD process) {
    return FindTitledWith(IDC_OUTPUT, process);
}

HWND FindProgressDialog(DWORD process) {
    return FindTitledWith(IDC_PROGRESS, process);
}

std::vector<std::wstring> ComboEntries(HWND combo) {
    std::vector<std::wstring> entries;
    const LRESULT count = Ask(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = Ask(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length < 0) continue;
        std::wstring entry(static_cast<std::size_t>(length) + 1, L'\0');
        Ask(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&entry[0]));
        entry.resize(std::wcslen(entry.c_str()));
        entries.push_back(entry);
    }
    return entries;
}

void ChooseEntry(HWND combo, int index) {
    Ask(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Ask(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
        reinterpret_cast<LPARAM>(combo));
}

std::vector<HWND> StaticTexts(HWND dialog) {
    std::vector<HWND> texts;
    for (HWND child : Descendants(dialog)) {
        if (ClassOf(child) == L"Static" && IsWindowVisible(child) && !Text(child).empty()) {
            texts.push_back(child);
        }
    }
    return texts;
}

std::vector<std::wstring> Labels(HWND dialog) {
    std::vector<std::wstring> labels;
    for (HWND text : StaticTexts(dialog)) labels.push_back(Text(text));
    return labels;
}

HWND FileNameField(HWND fileDialog) {
    HWND field = nullptr;
    for (HWND child : Descendants(fileDialog)) {
        const int id = GetDlgCtrlID(child);
        if ((id == cmb13 || id == edt1) && ClassOf(child) == L"Edit") field = child;
    }
    return field;
}

}  // namespace dialog_windows

// The least a program can do to show the file-open dialog: the yardstick for
// the time bladepost takes from its start to its dialog. The same dialog as
// bladepost's (filter, title, no places bar), without its template and hook.
#include "platform/win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t file[MAX_PATH] = L"";
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrFilter = L"Data Files (*.plt;*.pm)\0*.plt;*.pm\0All Files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrTitle = L"Send to Cutter Utility";
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    dialog.FlagsEx = OFN_EX_NOPLACESBAR;
    return GetOpenFileNameW(&dialog) ? 0 : 2;
}

// The dialog templates of the program's module: the same table that
// resources/bladepost.rc compiles into the Windows builds.
#include "platform/emu/user32/dialog.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/user32/user_api.h"
#include "resources/dialog_table.h"

namespace emu {
namespace {

#define EMU_CONTROL(text, id, className, style, x, y, cx, cy) \
    {L"" text, id, L"" className, static_cast<DWORD>(style), x, y, cx, cy},

const ControlTemplate outputSelectControls[] = {IDD_OUTPUT_SELECT_CONTROLS(EMU_CONTROL)};
const ControlTemplate progressControls[] = {IDD_PROGRESS_CONTROLS(EMU_CONTROL)};

#undef EMU_CONTROL

template <std::size_t N>
constexpr std::size_t CountOf(const ControlTemplate (&)[N]) {
    return N;
}

const DialogTemplate templates[] = {
    {IDD_OUTPUT_SELECT, static_cast<DWORD>(IDD_OUTPUT_SELECT_STYLE),
     static_cast<DWORD>(IDD_OUTPUT_SELECT_EXSTYLE), L"", IDD_OUTPUT_SELECT_RECT,
     outputSelectControls, CountOf(outputSelectControls)},
    {IDD_PROGRESS, static_cast<DWORD>(IDD_PROGRESS_STYLE), static_cast<DWORD>(IDD_PROGRESS_EXSTYLE),
     L"" IDD_PROGRESS_CAPTION, IDD_PROGRESS_RECT, progressControls, CountOf(progressControls)},
};

}  // namespace

const DialogTemplate* FindDialogTemplate(HINSTANCE module, LPCWSTR name) {
    if (module != nullptr && module != GetModuleHandleW(nullptr)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    if (IS_INTRESOURCE(name)) {
        const int id = static_cast<int>(reinterpret_cast<ULONG_PTR>(name));
        for (const DialogTemplate& dialog : templates) {
            if (dialog.id == id) return &dialog;
        }
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

}  // namespace emu

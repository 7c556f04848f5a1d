// Dialogs: templates of the program's module, dialog windows that call a
// dialog procedure, and building a dialog from its template.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "platform/emu/user32/window_table.h"

namespace emu {

// One control of a dialog template; coordinates in dialog units.
struct ControlTemplate {
    const wchar_t* text;
    int id;
    const wchar_t* className;
    DWORD style;
    int x, y, cx, cy;
};

struct DialogTemplate {
    int id;
    DWORD style;
    DWORD exStyle;
    const wchar_t* caption;
    int x, y, cx, cy;
    const ControlTemplate* controls;
    std::size_t controlCount;
};

// The template `name` of `module` (the program's own; null means the same),
// or null with the last-error code set.
const DialogTemplate* FindDialogTemplate(HINSTANCE module, LPCWSTR name);

// Pixels of a rectangle given in dialog units of the dialogs' 8-point font.
RECT DialogUnitsToPixels(int x, int y, int cx, int cy);
// The screen position of the top-left corner of the window's client area.
POINT ClientOrigin(HWND window);

using DialogProcedure = std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)>;

// A dialog window: its dialog procedure sees every message first; what it
// leaves (FALSE) gets the default dialog handling.
class DialogKind : public WindowKind {
  public:
    explicit DialogKind(DialogProcedure procedure) : procedure_(std::move(procedure)) {}
    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    // Set by EndDialog.
    bool ended = false;
    INT_PTR result = 0;

  protected:
    DialogProcedure procedure_;
};

// Creates the dialog of `dialog` with its controls, hidden, as a child of
// `parent` at `origin` (pixels in its client area) when the template has
// WS_CHILD, else as a top-level window owned by `parent`; sends WM_INITDIALOG
// with `initParam` and shows it when the template has WS_VISIBLE. Returns
// null with the last-error code when a control's class does not exist; the
// half-made dialog is destroyed again.
HWND CreateDialogFromTemplate(const DialogTemplate& dialog, HWND parent, POINT origin,
                              std::shared_ptr<DialogKind> kind, LPARAM initParam);

// Creates `count` controls in `dialog`'s client area; false with
// ERROR_CANNOT_FIND_WND_CLASS when a class does not exist.
bool CreateControls(HWND dialog, const ControlTemplate* controls, std::size_t count);

}  // namespace emu

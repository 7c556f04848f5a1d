// The emulated window manager: every HWND names a window in one process-wide
// table. The table's lock guards the fields below and is never held while a
// window procedure runs, so procedures may call back into any function.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/emu/user32/user_types.h"

namespace emu {

struct ControlView;

// What a window class does with messages, and the class's own state. Called
// only on the window's thread, without the table's lock.
class WindowKind {
  public:
    virtual ~WindowKind();
    virtual LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Default: DefaultHandling.
    // Adds what the user sees of the window beyond its text (list entries,
    // a bar's position). On the window's thread.
    virtual void Describe(ControlView* view) const;
};

struct WindowData {
    HWND handle = nullptr;
    DWORD thread = 0;       // GetCurrentThreadId of the creating thread
    HWND parent = nullptr;  // the parent of a child window, the owner of a top-level one
    std::wstring className;
    std::wstring text;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    RECT rect{};         // screen coordinates
    int templateId = 0;  // dialogs made from a template of the module
    bool destroying = false;
    std::vector<HWND> children;  // in creation order
};

struct NewWindow {
    std::wstring className;
    std::wstring text;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    HWND parent = nullptr;
    RECT rect{};
    int templateId = 0;
};

// Inserts a window owned by the calling thread. Handle values are never
// reused, so a destroyed window's handle stays invalid.
HWND InsertWindow(const NewWindow& window, std::shared_ptr<WindowKind> kind);
// Removes the window from the table and from its parent's children.
void RemoveWindow(HWND window);

bool WindowExists(HWND window);
// A copy of the window's fields; false when the handle names no window.
bool ReadWindow(HWND window, WindowData* data);
// Changes the window's fields under the table's lock; false when it is gone.
bool UpdateWindow(HWND window, const std::function<void(WindowData&)>& change);
std::shared_ptr<WindowKind> KindOf(HWND window);

// What Windows does with a message no window class handles itself: the
// window's text, WM_CLOSE. DefWindowProcW.
LRESULT DefaultHandling(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The system's move/size loop that DefWindowProcW runs for SC_MOVE and
// SC_SIZE: modal on the window's thread until the user lets go.
void RunMoveSizeLoop(HWND window);

// Calls the window's procedure on the calling thread; 0 when it is gone.
LRESULT CallWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// True when `window` is `ancestor` or lies below it.
bool IsSelfOrDescendant(HWND ancestor, HWND window);
// The top-level window that `window` belongs to.
HWND TopLevelOf(HWND window);
// The first window below `ancestor` (depth first) with control ID `id`.
HWND FindDescendant(HWND ancestor, int id);
// Every window below `ancestor`, depth first.
std::vector<HWND> Descendants(HWND ancestor);

// The emulated screen, the desktop window's rectangle.
constexpr LONG kScreenWidth = 1920;
constexpr LONG kScreenHeight = 1080;
HWND DesktopWindow();

}  // namespace emu

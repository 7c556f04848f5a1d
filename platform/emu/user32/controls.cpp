// Buttons, static texts, edit boxes, drop-down lists and progress bars, with
// the parts of their behaviour that dialogs rely on.
#include "platform/emu/user32/controls.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <cwctype>
#include <vector>

#include "platform/emu/user32/desktop.h"
#include "platform/emu/faults.h"
#include "platform/emu/user32/user_api.h"

namespace emu {
namespace {

std::atomic<bool> commonControls{false};

// Tells the control's parent, as controls do, with WM_COMMAND.
void Notify(HWND control, WORD code) {
    WindowData data;
    if (!ReadWindow(control, &data)) return;
    SendMessageW(data.parent, WM_COMMAND, MAKEWPARAM(data.id, code),
                 reinterpret_cast<LPARAM>(control));
}

class Button : public WindowKind {
  public:
    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case WM_LBUTTONDOWN:
                pressed_ = true;
                return 0;
            case WM_LBUTTONUP:
                if (!pressed_) return 0;
                pressed_ = false;
                Notify(window, BN_CLICKED);
                return 0;
            case BM_CLICK:
                Notify(window, BN_CLICKED);
                return 0;
            default:
                return DefaultHandling(window, message, wParam, lParam);
        }
    }

  private:
    bool pressed_ = false;
};

// A single-line edit box: typed characters replace a whole-text selection or
// go at the end; backspace removes the last one.
class Edit : public WindowKind {
  public:
    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case EM_SETSEL:
                selectAll_ = wParam == 0 && lParam == -1;
                return 0;
            case WM_CHAR:
                Type(window, static_cast<wchar_t>(wParam));
                return 0;
            default:
                return DefaultHandling(window, message, wParam, lParam);
        }
    }

  private:
    void Type(HWND window, wchar_t c) {
        const bool replace = selectAll_;
        selectAll_ = false;
        UpdateWindow(window, [&](WindowData& w) {
            if (replace) w.text.clear();
            if (c == L'\b') {
                if (!w.text.empty()) w.text.pop_back();
            } else if (c >= L' ') {
                w.text.push_back(c);
            }
        });
    }

    bool selectAll_ = false;
};

class ComboBox : public WindowKind {
  public:
    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case CB_RESETCONTENT:
                items_.clear();
                selection_ = -1;
                ++fills_;
                return 0;
            case CB_ADDSTRING:
                return Add(window, reinterpret_cast<const wchar_t*>(lParam));
            case CB_SETCURSEL:
                return Select(static_cast<int>(wParam));
            case CB_GETCURSEL:
                return selection_;
            case CB_GETCOUNT:
                return static_cast<LRESULT>(items_.size());
            case CB_GETLBTEXTLEN:
                return Valid(static_cast<int>(wParam)) ? static_cast<LRESULT>(items_[wParam].size())
                                                       : CB_ERR;
            case CB_GETLBTEXT:
                return CopyItem(static_cast<int>(wParam), reinterpret_cast<wchar_t*>(lParam));
            case WM_KEYDOWN:
                Key(window, wParam);
                return 0;
            case WM_GETTEXT:
            case WM_GETTEXTLENGTH:
                return SelectedText(message, wParam, reinterpret_cast<wchar_t*>(lParam));
            default:
                return DefaultHandling(window, message, wParam, lParam);
        }
    }

    void Describe(ControlView* view) const override {
        view->items = items_;
        view->selection = selection_;
        view->text = selection_ >= 0 ? items_[static_cast<std::size_t>(selection_)] : L"";
        view->fills = fills_;
    }

  private:
    bool Valid(int index) const {
        return index >= 0 && static_cast<std::size_t>(index) < items_.size();
    }

    LRESULT Add(HWND window, const wchar_t* text) {
        if (text == nullptr) text = L"";
        WindowData data;
        ReadWindow(window, &data);
        auto at = items_.end();
        if ((data.style & CBS_SORT) != 0) {
            at = std::upper_bound(items_.begin(), items_.end(), std::wstring(text),
                                  [](const std::wstring& a, const std::wstring& b) {
                                      return wcscasecmp(a.c_str(), b.c_str()) < 0;
                                  });
        }
        return static_cast<LRESULT>(items_.insert(at, text) - items_.begin());
    }

    LRESULT Select(int index) {
        if (!Valid(index)) {
            selection_ = -1;
            return CB_ERR;  // also for -1, which clears the selection
        }
        selection_ = index;
        return index;
    }

    LRESULT CopyItem(int index, wchar_t* buffer) const {
        if (!Valid(index) || buffer == nullptr) return CB_ERR;
        const std::wstring& item = items_[static_cast<std::size_t>(index)];
        std::wmemcpy(buffer, item.c_str(), item.size() + 1);
        return static_cast<LRESULT>(item.size());
    }

    LRESULT SelectedText(UINT message, WPARAM capacity, wchar_t* buffer) const {
        const std::wstring text = Valid(selection_) ? items_[selection_] : L"";
        if (message == WM_GETTEXTLENGTH) return static_cast<LRESULT>(text.size());
        if (buffer == nullptr || capacity == 0) return 0;
        std::size_t count = std::min<std::size_t>(text.size(), capacity - 1);
        std::wmemcpy(buffer, text.data(), count);
        buffer[count] = L'\0';
        return static_cast<LRESULT>(count);
    }

    // The arrow keys move the selection of a closed drop-down list, and each
    // change is reported to the dialog.
    void Key(HWND window, WPARAM key) {
        if (items_.empty()) return;
        const int last = static_cast<int>(items_.size()) - 1;
        int next = selection_;
        if (key == VK_DOWN) next = std::min(selection_ + 1, last);
        if (key == VK_UP) next = std::max(selection_ - 1, 0);
        if (key == VK_HOME) next = 0;
        if (next == selection_) return;
        selection_ = next;
        Notify(window, CBN_SELCHANGE);
    }

    std::vector<std::wstring> items_;
    int selection_ = -1;
    unsigned fills_ = 0;
};

class ProgressBar : public WindowKind {
  public:
    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case PBM_SETRANGE: {
                LRESULT previous = MAKELPARAM(low_, high_);
                low_ = LOWORD(lParam);
                high_ = HIWORD(lParam);
                return previous;
            }
            case PBM_SETPOS: {
                int previous = position_;
                // Windows keeps the position inside the range.
                position_ = std::clamp(static_cast<int>(wParam), low_, high_);
                CurrentDesktop()->ProgressSet(window, position_);
                return previous;
            }
            case PBM_GETPOS:
                return position_;
            default:
                return DefaultHandling(window, message, wParam, lParam);
        }
    }

    void Describe(ControlView* view) const override { view->position = position_; }

  private:
    int low_ = 0;
    int high_ = 100;
    int position_ = 0;
};

}  // namespace

bool SameClass(const std::wstring& a, const std::wstring& b) {
    return wcscasecmp(a.c_str(), b.c_str()) == 0;
}

std::shared_ptr<WindowKind> MakeControl(const std::wstring& className) {
    if (SameClass(className, L"BUTTON")) return std::make_shared<Button>();
    if (SameClass(className, L"STATIC")) return std::make_shared<WindowKind>();
    if (SameClass(className, L"EDIT")) return std::make_shared<Edit>();
    if (SameClass(className, L"COMBOBOX")) return std::make_shared<ComboBox>();
    if (SameClass(className, PROGRESS_CLASSW) && commonControls) {
        return std::make_shared<ProgressBar>();
    }
    return nullptr;
}

void ForgetCommonControls() {
    commonControls = false;
}

}  // namespace emu

void WINAPI InitCommonControls() {
    if (emu::InjectedFailure("InitCommonControls")) return;
    emu::commonControls = true;
}

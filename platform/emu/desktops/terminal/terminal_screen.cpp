#include "platform/emu/desktops/terminal/terminal_screen.h"

#include <algorithm>
#include <cwctype>

#include "platform/emu/kernel32/devices.h"
#include "platform/emu/user32/window_table.h"

namespace emu {
namespace {

// Controls of the file-open dialog itself; everything else in its view
// comes from the application's template.
bool IsOwn(int id) {
    return id == stc2 || id == stc3 || id == cmb1 || id == cmb13 || id == chx1 || id == IDOK ||
           id == IDCANCEL;
}

// A label as shown: without the '&' that marks its access key.
std::string Label(const std::wstring& text) {
    std::wstring shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) ++i;
        shown.push_back(text[i]);
    }
    return NarrowPath(shown);
}

bool Is(const ControlView& control, const wchar_t* className) {
    return control.visible && wcscasecmp(control.className.c_str(), className) == 0;
}

// The application's buttons, each chosen by the first letter of its label.
std::vector<const ControlView*> AppButtons(const DialogView& view) {
    std::vector<const ControlView*> buttons;
    for (const ControlView& control : view.controls) {
        if (!IsOwn(control.id) && Is(control, L"BUTTON") && !Label(control.text).empty()) {
            buttons.push_back(&control);
        }
    }
    return buttons;
}

const ControlView* FirstAppList(const DialogView& view) {
    for (const ControlView& control : view.controls) {
        if (!IsOwn(control.id) && Is(control, L"COMBOBOX")) return &control;
    }
    return nullptr;
}

// The static text to the left of `list` on the same row, as its caption.
std::string CaptionOf(const DialogView& view, const ControlView& list) {
    const ControlView* best = nullptr;
    for (const ControlView& control : view.controls) {
        if (IsOwn(control.id) || !Is(control, L"STATIC") || control.rect.right > list.rect.left) {
            continue;
        }
        const bool sameRow = control.rect.bottom > list.rect.top &&
                             control.rect.top < list.rect.top + (list.rect.bottom - list.rect.top);
        if (sameRow && (best == nullptr || control.rect.right > best->rect.right)) best = &control;
    }
    return best != nullptr ? Label(best->text) : "List:";
}

char Letter(const ControlView& button) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(Label(button.text)[0])));
}

}  // namespace

std::string FileDialogScreen(const DialogView& view) {
    std::string out = "\n== " + NarrowPath(view.title) + " ==\n";
    if (const ControlView* name = view.Control(cmb13))
        out += "  File name: " + NarrowPath(name->text) + "\n";
    if (const ControlView* types = view.Control(cmb1))
        out += "  Files of type: " + NarrowPath(types->text) + "\n";
    if (const ControlView* readOnly = view.Control(chx1);
        readOnly != nullptr && readOnly->visible) {
        out += "  [ ] " + Label(readOnly->text) + "\n";
    }
    for (const ControlView& control : view.controls) {
        if (IsOwn(control.id) || !Is(control, L"COMBOBOX")) continue;
        out += "  " + CaptionOf(view, control) + "\n";
        for (std::size_t i = 0; i < control.items.size(); ++i) {
            const bool selected = static_cast<int>(i) == control.selection;
            out += std::string(selected ? "  > " : "    ") + std::to_string(i + 1) + ") " +
                   NarrowPath(control.items[i]) + "\n";
        }
    }
    const ControlView* ok = view.Control(IDOK);
    out += "  Enter: " + (ok != nullptr ? Label(ok->text) : std::string("Open"));
    for (const ControlView* button : AppButtons(view)) {
        out += "   " + std::string(1, Letter(*button)) + ": " + Label(button->text);
    }
    out += "   c or Esc: Cancel\n";
    out += "  Type a file name and Enter, or a number to choose from the list.\n";
    return out;
}

std::string DialogScreen(const DialogView& view) {
    std::string out = "\n== " + NarrowPath(view.title) + " ==\n";
    for (const ControlView& control : view.controls) {
        if (Is(control, L"STATIC") && !control.text.empty())
            out += "  " + Label(control.text) + "\n";
    }
    return out;
}

std::string ProgressLine(int position) {
    constexpr int width = 30;
    const int filled = std::clamp(position, 0, 100) * width / 100;
    return "\r  [" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.') + "] " +
           std::to_string(position) + "%   Esc or Ctrl-C: Cancel ";
}

std::vector<UserAction> LineActions(const DialogView& view, const std::wstring& typed,
                                    std::string* complaint) {
    std::wstring line = typed;
    while (!line.empty() && std::iswspace(line.back())) line.pop_back();
    line.erase(0, std::min(line.size(), line.find_first_not_of(L" \t")));
    if (line.empty()) return {PressSend()};
    if (line == L"c" || line == L"C") return {PressCancel()};
    if (line.size() == 1) {
        for (const ControlView* button : AppButtons(view)) {
            if (static_cast<wint_t>(Letter(*button)) ==
                std::towlower(static_cast<wint_t>(line[0]))) {
                return {Click(button->id)};
            }
        }
    }
    if (std::all_of(line.begin(), line.end(), [](wchar_t c) { return std::iswdigit(c); }) &&
        line.size() < 6) {
        const ControlView* list = FirstAppList(view);
        const int number = std::stoi(line);
        if (list == nullptr || number < 1 || number > static_cast<int>(list->items.size())) {
            *complaint = "There is no entry " + NarrowPath(line) + " in the list.";
            return {};
        }
        // The entry by its number, whatever is selected: a click, not keys.
        return {ChooseItem(list->id, number - 1, list->fills)};
    }
    return {TypeFileName(line), PressSend()};
}

}  // namespace emu

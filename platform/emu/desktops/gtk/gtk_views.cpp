// What the GTK windows are told of the emulated ones, in plain data, and
// the message-box types and answers in both vocabularies.
#include "platform/emu/desktops/gtk/gtk_views.h"

#include "platform/emu/user32/controls.h"
#include "platform/emu/kernel32/devices.h"
#include "platform/emu/user32/user_api.h"
#include "platform/emu/user32/window_table.h"

namespace emu {

ShownDialog Shown(const DialogView& view) {
    ShownDialog shown;
    shown.title = NarrowPath(view.title);
    for (const ControlView& control : view.controls) {
        if (!control.visible) continue;
        ShownControl item;
        if (SameClass(control.className, L"STATIC")) {
            item.kind = ShownControl::Kind::Label;
        } else if (SameClass(control.className, L"COMBOBOX")) {
            item.kind = ShownControl::Kind::List;
        } else if (SameClass(control.className, L"BUTTON")) {
            item.kind = ShownControl::Kind::Button;
        } else if (SameClass(control.className, PROGRESS_CLASSW)) {
            item.kind = ShownControl::Kind::Progress;
        } else {
            continue;
        }
        item.id = control.id;
        item.text = NarrowPath(control.text);
        for (const std::wstring& entry : control.items) item.items.push_back(NarrowPath(entry));
        item.selection = control.selection;
        item.fills = control.fills;
        item.position = control.position;
        item.left = control.rect.left;
        shown.controls.push_back(item);
    }
    return shown;
}

ShownDialog ShownFileDialog(HWND top) {
    ShownDialog shown;
    for (HWND window : Descendants(top)) {
        WindowData data;
        if (ReadWindow(window, &data) && data.className == L"#32770") shown = Shown(ViewOf(window));
    }
    WindowData data;
    if (ReadWindow(top, &data)) shown.title = NarrowPath(data.text);
    return shown;
}

bool SameLists(const ShownDialog& a, const ShownDialog& b) {
    if (a.controls.size() != b.controls.size()) return false;
    for (std::size_t i = 0; i < a.controls.size(); ++i) {
        if (a.controls[i].items != b.controls[i].items ||
            a.controls[i].selection != b.controls[i].selection ||
            a.controls[i].fills != b.controls[i].fills) {
            return false;
        }
    }
    return true;
}

ChooserSetup ChooserOf(const FileDialogSetup& setup, HWND top) {
    ChooserSetup chooser;
    WindowData accept;
    if (ReadWindow(GetDlgItem(top, IDOK), &accept)) chooser.acceptLabel = NarrowPath(accept.text);
    for (const auto& filter : setup.filters) {
        chooser.filters.emplace_back(NarrowPath(filter.first), NarrowPath(filter.second));
    }
    chooser.filterIndex = setup.filterIndex;
    chooser.folder = NarrowPath(setup.folder);
    chooser.file = NarrowPath(setup.file);
    return chooser;
}

BoxIcon IconOf(UINT type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONERROR:
            return BoxIcon::Error;
        case MB_ICONQUESTION:
            return BoxIcon::Question;
        case MB_ICONWARNING:
            return BoxIcon::Warning;
        case MB_ICONINFORMATION:
            return BoxIcon::Information;
        default:
            return BoxIcon::None;
    }
}

BoxButtons ButtonsOf(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return BoxButtons::OkCancel;
        case MB_YESNO:
            return BoxButtons::YesNo;
        default:
            return BoxButtons::Ok;
    }
}

int IdOf(BoxAnswer answer) {
    switch (answer) {
        case BoxAnswer::Ok:
            return IDOK;
        case BoxAnswer::Cancel:
            return IDCANCEL;
        case BoxAnswer::Yes:
            return IDYES;
        case BoxAnswer::No:
            return IDNO;
    }
    return IDOK;
}

}  // namespace emu

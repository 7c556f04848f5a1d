#include "app/cutter_list.h"

#include <string>

#include "app/front_end_state.h"
#include "usb/cutter_models.h"
#include "usb/usb_listener.h"

namespace {

// "MODEL" or "MODEL (#SERIAL)", the serial in upper-case hexadecimal.
std::wstring EntryText(const QUILL::UsbDevice& device) {
    const CutterModel* model = FindCutterModel(device.productId);
    WCHAR name[255] = {};
    // Map entries always have a model row: only those pass IsSupported.
    if (model == nullptr || MultiByteToWideChar(CP_ACP, 0, model->name, -1, name, 255) == 0) {
        name[0] = L'\0';
    }
    std::wstring text(name);
    if (device.serialNumber != 0) {
        WCHAR suffix[16];
        wsprintfW(suffix, L" (#%X)", device.serialNumber);
        text += suffix;
    }
    return text;
}

void AddEntry(HWND list, const std::wstring& text) {
    if (list != nullptr)
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace

void FillCutterList(HWND list, bool reset) {
    if (reset) {
        usbListener.connectedCutters.clear();
        if (list != nullptr) SendMessageW(list, CB_RESETCONTENT, 0, 0);
    }
    usbListener.Init(false);
    if (usbListener.connectedCutters.empty()) {
        AddEntry(list, L"No cutter connected");
        SelectedCutterIndex = -1;
    } else {
        for (const auto& entry : usbListener.connectedCutters)
            AddEntry(list, EntryText(*entry.second));
        SelectedCutterIndex = 0;
    }
    if (list != nullptr) SendMessageW(list, CB_SETCURSEL, 0, 0);
}

#include "usb/cutter_models.h"

const CutterModel cutterModels[] = {
    {"Atelier", 0x4C02}, {"MERLIN", 0x4C01},  {"MERLIN2", 0x4C05},
    {"Vireo", 0x4C06},   {"MERLIN3", 0x4C08}, {nullptr, 0},
};

const CutterModel* FindCutterModel(std::uint16_t productId) {
    for (const CutterModel* row = cutterModels; row->productId != 0; ++row) {
        if (row->productId == productId) return row;
    }
    return nullptr;
}

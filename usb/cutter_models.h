// The cutter models: which USB products are cutters, and their names.
#pragma once

#include <cstdint>

struct CutterModel {
    const char* name;  // ANSI code page
    std::uint16_t productId;
};

// Every cutter has this USB vendor ID.
constexpr std::uint16_t kCutterVendorId = 0x2E7A;

// Ended by a row whose name is null and product ID 0.
extern const CutterModel cutterModels[];

// The row for `productId`, or null. Product ID 0 is never found.
const CutterModel* FindCutterModel(std::uint16_t productId);

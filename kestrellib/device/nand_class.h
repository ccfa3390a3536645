#pragma once
// NAND identification classes: which formula family decodes a chip's geometry. One table holds
// every rule; the geometry decoding and the paired-page rule of the area layout both use it.

#include "kestrellib/device/nand_info.h"

namespace kestrel::device {

// Class 0..11 of the identification bytes (0 when no rule matches).
int ClassifyNandId(const NandInfo& info);

// Chips of classes 9 and 10 pair their pages: half of each block is usable.
constexpr bool IsPairedPageClass(int nandClass) {
    return nandClass == 9 || nandClass == 10;
}

} // namespace kestrel::device

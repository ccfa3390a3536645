#include "kestrellib/program/resource_area_record.h"

#include <algorithm>

namespace kestrel::program {

bool IsKzipImage(std::span<const std::uint8_t> firstBytes) {
    return firstBytes.size() >= sizeof kKzipMagic &&
           std::equal(std::begin(kKzipMagic), std::end(kKzipMagic), firstBytes.begin());
}

} // namespace kestrel::program

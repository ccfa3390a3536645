#include "kestrellib/device/nand_class.h"

#include <array>
#include <cstdint>
#include <initializer_list>

namespace kestrel::device {
namespace {

// One classification rule; the first rule that matches wins.
struct ClassRule {
    int nandClass;
    std::array<std::int16_t, 6> prefix; // exact leading id bytes; -1 ends the prefix
    std::array<std::int16_t, 4> byte1;  // allowed values of id byte 1 (-1 = unused); empty = any
    std::int32_t idLength;              // required idLength, or -1
};

constexpr std::int16_t X = -1;

// Prefix rules hold the maker byte (and more); byte1 lists restrict id byte 1.
constexpr ClassRule kRules[] = {
    {11, {0xEC, 0xD7, 0x94, 0x7A, 0x54, 0x43}, {X, X, X, X}, -1},
    {1, {0xEC, X, X, X, X, X}, {X, X, X, X}, 6},
    {2, {0x2C, X, X, X, X, X}, {0x48, 0x68, 0x88, 0xA8}, -1},
    {2, {0x89, X, X, X, X, X}, {0x48, 0x68, 0x88, 0xA8}, -1},
    {9, {0xAD, 0xD7, 0x94, 0xDA, 0x74, 0xC3}, {X, X, X, X}, -1},
    {10, {0xAD, 0xDE, 0x94, 0xD2, 0x04, 0x43}, {X, X, X, X}, -1},
    {3, {0xAD, X, X, X, X, X}, {X, X, X, X}, 6},
    // Maker 2C with D7/D9 and any other length falls through to class 0 (see below).
    {4, {0x2C, X, X, X, X, X}, {0xD7, 0xD9, X, X}, 5},
    {5, {0x98, 0xD5, X, X, X, X}, {X, X, X, X}, 7},
    {6, {0x92, 0xF1, 0x80, 0x95, 0x40, X}, {X, X, X, X}, -1},
    {7, {0x98, 0xDE, 0x95, 0x32, 0xF4, X}, {X, X, X, X}, -1},
    {8, {0x98, 0xDE, 0x94, 0x82, 0xF4, X}, {X, X, X, X}, -1},
};

bool Matches(const ClassRule& rule, const NandInfo& info) {
    for (std::size_t i = 0; i < rule.prefix.size() && rule.prefix[i] != X; ++i) {
        if (info.id[i] != rule.prefix[i]) {
            return false;
        }
    }
    if (rule.byte1[0] != X) {
        bool any = false;
        for (std::int16_t value : rule.byte1) {
            any = any || (value != X && info.id[1] == value);
        }
        if (!any) {
            return false;
        }
    }
    return rule.idLength < 0 || info.idLength == static_cast<std::uint32_t>(rule.idLength);
}

} // namespace

int ClassifyNandId(const NandInfo& info) {
    for (const ClassRule& rule : kRules) {
        if (Matches(rule, info)) {
            return rule.nandClass;
        }
    }
    return 0;
}

} // namespace kestrel::device

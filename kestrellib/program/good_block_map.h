#pragma once
// GoodBlockMap: the area-relative indexes of the blocks of one resource area that passed the
// block test, in ascending order. Entry 0 is the block of the area record and the map itself;
// entry k (k >= 1) is the block that holds chunk k of the image. On the device the map is a
// table of one u16 little-endian entry per block of the area; entries past the number of good
// blocks are zero.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrel::program {

using GoodBlockMapEntry = std::uint16_t;
static_assert(sizeof(GoodBlockMapEntry) == 2);

class GoodBlockMap {
public:
    // The one area-relative index that is never taken into a map.
    static constexpr std::uint32_t kExcludedIndex = 30000;

    // An empty map for an area of areaBlocks blocks; holds at most areaBlocks entries.
    explicit GoodBlockMap(std::uint16_t areaBlocks);

    // Appends a good block. Refuses the excluded index, an index outside the area and an index
    // not above the last entry (the map stays ascending and within the area).
    bool Add(std::uint32_t areaIndex);

    // Removes entry k; the following entries move down by one. Out-of-range k is ignored.
    void Remove(std::size_t entry);

    std::size_t Size() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }
    GoodBlockMapEntry operator[](std::size_t entry) const { return entries_[entry]; }
    std::uint16_t AreaBlocks() const { return areaBlocks_; }

    // Size of the table on the device: one entry per block of the area.
    std::size_t EncodedSize() const { return std::size_t{areaBlocks_} * sizeof(GoodBlockMapEntry); }

    // Copies the bytes [offset, offset + out.size()) of the device table into out; bytes past
    // the good entries and past the table are zero.
    void Encode(std::size_t offset, std::span<std::uint8_t> out) const;

private:
    std::uint16_t areaBlocks_;
    std::vector<GoodBlockMapEntry> entries_;
};

} // namespace kestrel::program

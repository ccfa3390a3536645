#include "segwrap/huffman_tree.h"

#include <algorithm>

namespace kestrel::segwrap {

bool BuildHuffmanCodes(const HuffmanCounts& counts, HuffmanCodes& codes) {
    std::array<HuffmanNode, 2 * kHuffmanSymbols - 1> pool{};
    int poolSize = 0;
    // Node indices by count, descending; the smallest counts are at the end.
    std::array<std::int16_t, kHuffmanSymbols> list{};
    int listSize = 0;
    for (int symbol = 0; symbol < kHuffmanSymbols; ++symbol) {
        if (counts[symbol] == 0) {
            continue; // zero-count leaves take no part
        }
        pool[poolSize] = {static_cast<std::uint16_t>(symbol), counts[symbol], -1, -1};
        list[listSize++] = static_cast<std::int16_t>(poolSize++);
    }
    if (listSize < 2) {
        return false;
    }
    // Stable: equal counts keep ascending symbol order, so the higher symbol sits nearer the end.
    std::stable_sort(list.begin(), list.begin() + listSize,
                     [&](std::int16_t a, std::int16_t b) { return pool[a].count > pool[b].count; });

    while (listSize > 1) {
        const std::int16_t left = list[--listSize];
        const std::int16_t right = list[--listSize];
        const std::uint64_t sum = pool[left].count + pool[right].count;
        pool[poolSize] = {kInnerSymbol, sum, left, right};
        const auto node = static_cast<std::int16_t>(poolSize++);
        // Before the first node whose count is not larger: ahead of all equal counts.
        int at = 0;
        while (at < listSize && pool[list[at]].count > sum) {
            ++at;
        }
        std::copy_backward(list.begin() + at, list.begin() + listSize, list.begin() + listSize + 1);
        list[at] = node;
        ++listSize;
    }

    codes = HuffmanCodes{};
    // Depth-first walk with an explicit stack; the tree has at most 513 nodes.
    struct Step {
        std::int16_t node;
        std::uint64_t bits;
        std::uint16_t length;
    };
    std::array<Step, 2 * kHuffmanSymbols> stack{};
    int top = 0;
    stack[top++] = {list[0], 0, 0};
    bool fits = true;
    while (top > 0) {
        const Step step = stack[--top];
        const HuffmanNode& n = pool[step.node];
        if (n.symbol != kInnerSymbol) {
            codes[n.symbol] = {step.bits, step.length};
            continue;
        }
        if (step.length >= 64) {
            fits = false;
            continue;
        }
        const auto length = static_cast<std::uint16_t>(step.length + 1);
        stack[top++] = {n.left, (step.bits << 1) | 1u, length};
        stack[top++] = {n.right, step.bits << 1, length};
    }
    return fits;
}

} // namespace kestrel::segwrap

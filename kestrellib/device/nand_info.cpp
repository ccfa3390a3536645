#include "kestrellib/device/nand_info.h"

#include <atomic>
#include <cstring>

namespace kestrel::device {
namespace {
std::atomic<bool> largePageFlag{false};
} // namespace

bool ConvertOldNandInfo(const OldNandInfo& old, NandInfo& info) {
    std::memset(&info, 0, sizeof info);
    info.pagesPerBlock = old.word[0] == 16 ? 256 : old.word[0];
    info.rawPageSize = old.word[1];
    info.pageSize = old.word[2];
    info.blockCount = old.word[5];
    info.pagesPerBlockShift = Log2(info.pagesPerBlock);
    info.blockCountShift = Log2(info.blockCount);
    return old.word[0] == 16 && old.word[1] == 2112 && old.word[3] == 32 && old.word[5] == 4096;
}

bool LargePageFlag() {
    return largePageFlag.load();
}
void SetLargePageFlag(bool value) {
    largePageFlag.store(value);
}

} // namespace kestrel::device

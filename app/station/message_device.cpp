#include "app/station/message_device.h"

#include <cctype>
#include <cstring>

namespace kestrel::station {

std::optional<int> DeviceOfMessage(const std::string& text) {
    constexpr const char* kPrefix = "Device";
    if (text.compare(0, std::strlen(kPrefix), kPrefix) != 0) {
        return std::nullopt;
    }
    std::size_t i = std::strlen(kPrefix);
    if (i < text.size() && text[i] == ':') {
        ++i;
    }
    int value = 0;
    std::size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && digits < 6) {
        value = value * 10 + (text[i] - '0');
        ++i;
        ++digits;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return value;
}

} // namespace kestrel::station

#include "platform/devices/usbstor_path.h"

#include "platform/devices/devices.h"

namespace kestrel::platform::devices {
namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' ||
                             text.back() == '\0')) {
        text.remove_suffix(1);
    }
    return text;
}

// One field of the path: trimmed, lower case, separators and blanks made harmless.
std::string Field(std::string_view text, bool ampersandAllowed) {
    std::string out;
    for (char c : Trim(text)) {
        const bool unsafe = c == '#' || c == '\\' || c == '/' || c == ' ' || c == '\t' ||
                            static_cast<unsigned char>(c) < 0x20 || (!ampersandAllowed && c == '&');
        out.push_back(unsafe ? '_' : LowerAscii(c));
    }
    return out;
}

} // namespace

std::string UsbStorInterfacePath(std::string_view vendor, std::string_view product,
                                 std::string_view revision, std::string_view instance) {
    return std::string("\\\\?\\usbstor#disk&ven_") + Field(vendor, false) + "&prod_" +
           Field(product, false) + "&rev_" + Field(revision, false) + "#" + Field(instance, true) +
           "#" + kDiskInterfaceClass;
}

std::string UsbStorInstance(std::string_view serial, std::string_view port, std::string_view lun) {
    const std::string_view first = Trim(serial).empty() ? std::string_view("kestrel") : serial;
    return std::string(Trim(first)) + "&" + std::string(Trim(port)) + "&" + std::string(lun);
}

std::string UsbStorFriendlyName(std::string_view vendor, std::string_view product) {
    return std::string(Trim(vendor)) + " " + std::string(Trim(product)) + " USB Device";
}

std::string ToUpperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace kestrel::platform::devices

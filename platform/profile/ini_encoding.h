#pragma once
// The byte encodings a profile file may be stored in, and their conversion to and from the
// UTF-8 text the profile document works on. A UTF-16 file must begin with its byte-order mark;
// without one the file is 8-bit text. The conversion is lossless both ways: a UTF-16 unit that
// is not part of a valid pair is carried as its own three-byte sequence and written back as the
// same unit, so lines a write does not touch keep their bytes.

#include "platform/export.h"
#include "platform/profile/ini_document.h"

#include <string>
#include <string_view>

namespace kestrel::platform {

struct DecodedIni {
    IniEncoding encoding = IniEncoding::kAnsi;
    std::string text; // after the byte-order mark; UTF-8 for the UTF-16 encodings
    std::string tail; // an odd last byte of a UTF-16 file
};

KESTREL_PLATFORM_API DecodedIni DecodeIniBytes(std::string_view bytes);

// The file bytes of text in the given encoding, byte-order mark included.
KESTREL_PLATFORM_API std::string EncodeIniText(std::string_view text, IniEncoding encoding,
                                               std::string_view tail);

} // namespace kestrel::platform

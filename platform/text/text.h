#pragma once
// Text in the ANSI code page and in UTF-16. The station's texts (paths, INI values) are 8-bit
// text in the ANSI code page; a few outside interfaces take UTF-16. On Linux the ANSI code page
// is UTF-8. A byte sequence that is not valid in the code page becomes U+FFFD; a UTF-16 unit
// that is not part of a valid pair becomes '?'. Neither call stops at a NUL inside the text.

#include "platform/export.h"
#include <string>
#include <string_view>

namespace kestrel::platform {

KESTREL_PLATFORM_API std::u16string AnsiToUtf16(std::string_view text);

KESTREL_PLATFORM_API std::string Utf16ToAnsi(std::u16string_view text);

} // namespace kestrel::platform

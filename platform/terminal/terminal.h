#pragma once
// Terminal: whether the standard output is an interactive terminal (so the command line may
// redraw its progress bars in place) and how large it is.

#include "platform/export.h"

namespace kestrel::platform {

KESTREL_PLATFORM_API bool StdoutIsTerminal();

// Columns of the terminal behind the standard output; 80 when unknown.
KESTREL_PLATFORM_API int TerminalColumns();

// Rows of the terminal behind the standard output; 24 when unknown.
KESTREL_PLATFORM_API int TerminalRows();

} // namespace kestrel::platform

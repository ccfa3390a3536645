#include "platform/terminal/terminal.h"

#include <io.h>
#include <stdio.h>
#include <windows.h>

namespace kestrel::platform {

bool StdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
    return 80;
}

int TerminalRows() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return info.srWindow.Bottom - info.srWindow.Top + 1;
    }
    return 24;
}

} // namespace kestrel::platform

#pragma once
// Terminal: whether the standard output is an interactive terminal (so the command line may
// redraw its progress bars in place) and how large it is.

namespace kestrel::platform {

bool StdoutIsTerminal();

// Columns of the terminal behind the standard output; 80 when unknown.
int TerminalColumns();

// Rows of the terminal behind the standard output; 24 when unknown.
int TerminalRows();

} // namespace kestrel::platform

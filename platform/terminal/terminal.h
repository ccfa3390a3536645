#pragma once
// Terminal: whether the standard output is an interactive terminal (so the command line may
// redraw its progress bars in place) and how wide it is.

namespace kestrel::platform {

bool StdoutIsTerminal();

// Columns of the terminal behind the standard output; 80 when unknown.
int TerminalColumns();

} // namespace kestrel::platform

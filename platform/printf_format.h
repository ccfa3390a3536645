#pragma once
// KESTREL_PRINTF_FORMAT(formatIndex, firstArgument) lets the compiler check a printf-style
// function's arguments against its format (the format is parameter formatIndex, the arguments
// start at firstArgument; members count `this` as parameter 1). The formats are those of C99, which
// the project's printf calls get everywhere: on MinGW the plain printf check would apply
// Microsoft's older rules, so it names the GNU ones, which __USE_MINGW_ANSI_STDIO gives at run
// time.

#if defined(__MINGW32__)
#define KESTREL_PRINTF_FORMAT(formatIndex, firstArgument)                                          \
    __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#define KESTREL_PRINTF_FORMAT(formatIndex, firstArgument)                                          \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define KESTREL_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

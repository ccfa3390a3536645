#pragma once
// The export policy of the project's shared libraries.
//
// KESTREL_EXPORT marks a C function that a deliverable library exports under its plain,
// unmangled name (the names callers bind to by name).
//
// KESTREL_PLATFORM_API marks the C++ interface of KestrelPlatform, the one shared library that
// holds the process-wide platform state (device backend and handle table, drives backend, clock
// mode, message-box handler, registry hive). Every module of a process calls that one instance
// instead of carrying a copy of its own. The library is built with hidden symbols by default,
// so only what is marked is reachable from other modules, on every platform alike:
//   - Windows (MinGW and MSVC): dllexport while the library is built (KESTREL_PLATFORM_BUILD,
//     set by its CMake target), dllimport in every module that uses it;
//   - GCC and Clang elsewhere: default visibility.
// KESTREL_DLL_EXPORT and KESTREL_DLL_IMPORT are the building blocks for other libraries of
// ours that follow the same policy (sim/sim_api.h).

#if defined(_WIN32)
#define KESTREL_DLL_EXPORT __declspec(dllexport)
#define KESTREL_DLL_IMPORT __declspec(dllimport)
#elif defined(__GNUC__)
#define KESTREL_DLL_EXPORT __attribute__((visibility("default")))
#define KESTREL_DLL_IMPORT __attribute__((visibility("default")))
#else
#define KESTREL_DLL_EXPORT
#define KESTREL_DLL_IMPORT
#endif

#define KESTREL_EXPORT extern "C" KESTREL_DLL_EXPORT

#if defined(KESTREL_PLATFORM_BUILD)
#define KESTREL_PLATFORM_API KESTREL_DLL_EXPORT
#else
#define KESTREL_PLATFORM_API KESTREL_DLL_IMPORT
#endif

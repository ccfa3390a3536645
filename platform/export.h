#pragma once
// Marks a function exported by one of the shared libraries under its plain, unmangled name.

#if defined(_WIN32)
#define KESTREL_EXPORT extern "C" __declspec(dllexport)
#else
#define KESTREL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

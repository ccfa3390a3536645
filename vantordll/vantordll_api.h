#pragma once
// Marks the C++ classes and members that VantorDll exports (KStringList, the assignment of
// CVantorDll); its plain functions use KESTREL_EXPORT.

#if defined(_WIN32)
#if defined(VANTORDLL_BUILD)
#define VANTORDLL_API __declspec(dllexport)
#else
#define VANTORDLL_API __declspec(dllimport)
#endif
#else
#define VANTORDLL_API __attribute__((visibility("default")))
#endif

#pragma once
// CVantorDll: an empty class of the library. Only its assignment is exported; it copies
// nothing and returns the object assigned to.

#include "vantordll/vantordll_api.h"

class CVantorDll {
public:
    CVantorDll() = default;
    CVantorDll(const CVantorDll&) = default;
    VANTORDLL_API CVantorDll& operator=(const CVantorDll& other);
};

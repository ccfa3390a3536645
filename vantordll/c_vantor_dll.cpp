#include "vantordll/c_vantor_dll.h"

CVantorDll& CVantorDll::operator=(const CVantorDll&) {
    return *this;
}

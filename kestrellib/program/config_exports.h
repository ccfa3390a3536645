#pragma once
// Configuration exports of Kestrellib.

#include "platform/export.h"

// 0 when the named file beside the program can be opened for reading, -1 otherwise.
KESTREL_EXPORT int IsIniFileExist(const char* fileName);
// Reads the string key of isp.ini [WrapImage] into buffer (at least 256 bytes; "" by default).
KESTREL_EXPORT void GetConfigInistring(const char* key, char* buffer);
// which = 2: the Romfs1 area size in MB (0 unless enabled); otherwise the Romfs area size.
KESTREL_EXPORT int GetRomfs_Max_size(int which);
// which = 2: [Romfs1] enable (default 0); otherwise [Romfs] enable (default 1).
KESTREL_EXPORT int GetIsWriteRomFs(int which);

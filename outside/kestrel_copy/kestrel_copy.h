#pragma once
// KestrelCopyLib: copies a directory tree onto a drive. Our stand-in for the outside copy
// component the demo copy uses.
//
// copydir(window, source, destination): source is a directory, destination a drive root
// ("D:\", resolved through the drives layer) or any directory; both are NUL-terminated UTF-16
// texts. The contents of source (its files and subdirectories, not source itself) are copied
// into destination: missing directories are made, regular files overwrite files of the same
// name, and anything else (links, devices, pipes) is passed over; links are never followed.
// Directories more than kCopyMaxDepth levels below source are not copied.
//
// Reports, when window is not null: WM_ISP_STATUS code 1 with a ProgressRecord (drive number,
// number of regular files to copy) before the first file, then code 3 with a ProgressRecord
// (drive number, 1) for each file copied. The drive number is the place of the destination
// among the drives D: to Z: that are removable and hold readable media, the order in which the
// demo copy numbers its drives; 0xFFFF when the destination is not such a drive.
//
// Returns once the copy has finished: 1 when everything was copied, 0 when a text is null, the
// destination cannot be reached, it lies inside source, or any entry could not be copied (the
// others still are).

#include "platform/export.h"

namespace kestrel::copylib {
inline constexpr int kCopyMaxDepth = 64;
inline constexpr unsigned kUnknownDrive = 0xFFFF;
} // namespace kestrel::copylib

KESTREL_EXPORT int copydir(void* window, const char16_t* source, const char16_t* destination);

#pragma once
// Boot code exports of Kestrellib.

#include "kestrel/isp_job.h"
#include "platform/export.h"

#ifdef __cplusplus
#include <string>
#include <vector>
#endif

// Writes the device's boot code into its NAND: boot header from config.ini, geometry from the
// device into profile.ini, boot area, then the boot image file job->redbootPath page by page
// with read-back verification. Posts WM_ISP_EVENT 768 at the start and 769 or 770 at the end,
// WM_ISP_STATUS 1 (ProgressRecord: devIndex, sub-blocks + 1) and one code 2 per step. Refreshes
// job->loaderLevel and job->loaderClass. 0 on success, -1 on failure (after its message boxes).
KESTREL_EXPORT int WriteFW2NandFun(IspJob* job);

// Probes the loader of probe->hDevice (filling probe->loaderLevel and probe->loaderClass) and
// picks the boot image for that hardware out of the boot code file at packagePath: a "PRAW"
// package yields "redboot.img" beside it, any other file is used as it stands. The chosen path
// is copied, NUL-terminated, into the caller's outPath of outSize bytes (kRedbootPathMax is
// always enough for paths the platform can open).
// Returns 0 when the path is usable and -1 when the run must be refused (the message has been
// shown). -1 also, with outPath "" when outSize > 0, when probe, packagePath or outPath is null
// or the chosen path does not fit outSize.
KESTREL_EXPORT int GetRedboot(IspJob* probe, const char* packagePath, char* outPath, int outSize);

#ifdef __cplusplus
namespace kestrel::program {

inline constexpr int kRedbootPathMax = 4096;

// GetRedboot with the path as a string; result receives 0 or -1.
inline std::string GetRedbootPath(IspJob& probe, const std::string& packagePath, int& result) {
    std::vector<char> out(kRedbootPathMax, '\0');
    result = GetRedboot(&probe, packagePath.c_str(), out.data(), kRedbootPathMax);
    return out.data();
}

} // namespace kestrel::program
#endif

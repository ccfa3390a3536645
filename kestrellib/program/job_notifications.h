#pragma once
// The notifications and message boxes of one job, shared by boot code and resource programming:
// events and status codes go to the job's window, texts with the device index into a modal box.

#include "kestrel/isp_job.h"

#include <cstdint>
#include <string>

namespace kestrel::program {

// Texts shown by resource programming; "%d" is the device index.
inline constexpr const char* kTextReadSysInfoError = "Device:%d ==>Error in reading system info.\n";
inline constexpr const char* kTextRebuildError = "Device:%d ==> Error in rebuild nand fs.\n";
inline constexpr const char* kTextOpenFileError = "Device:%d ==>Error : Can't open file.\n";
// The same text followed by the full path of the file on its own line.
inline constexpr const char* kTextOpenFileNamed = "Device:%d ==>Error : Can't open file.\n%s\n";
inline constexpr const char* kTextWriteResourceError = "Device:%d ==> Error in write resource.\n";
inline constexpr const char* kTextImageTooLong = "Device:%d ==>Rom image is to long!\n";
inline constexpr const char* kTextWritePageError = "Device:%d ==>CMD_NAND_WRITEPAGE is error!\n";
// Printed on the standard output for each bad block of the rebuild; "%d" is the block's index
// counted from the file-system start.
inline constexpr const char* kTextRebuildBadBlock = "Warning : the block(%d) is bad!\n\n";

// Texts of the cases the station bounds itself.
inline constexpr const char* kTextReadFileError = "Device:%d ==>Error : Can't read file.\n";
inline constexpr const char* kTextNoGoodBlockLeft =
    "Device:%d ==> Error in write resource: no good block left for the rest of the image.\n";
inline constexpr const char* kTextMapTooLarge =
    "Device:%d ==> Error in write resource: the block map does not fit into one block.\n";
// "%s" is the reason the configured areas do not fit the chip.
inline constexpr const char* kTextLayoutError = "Device:%d ==> Error in nand layout: %s.\n";
inline constexpr const char* kTextRecordNotKept =
    "Device:%d ==> Error in write resource: the area record or block map doesn't read back as "
    "written.\n";
inline constexpr const char* kTextBadGeometry = "Device:%d ==> Can't the nand flash info!\n";

// WM_ISP_EVENT with lParam = devIndex.
void PostJobEvent(const IspJob& job, std::uint32_t event);

// WM_ISP_STATUS with the given lParam.
void PostJobStatus(const IspJob& job, std::uint32_t code, std::intptr_t lParam);

// WM_ISP_STATUS 1 with a ProgressRecord (devIndex, steps) that travels with the message.
void PostProgressRange(const IspJob& job, std::uint32_t steps);

// WM_ISP_STATUS 2 with lParam = devIndex, count times.
void PostProgressSteps(const IspJob& job, std::uint32_t count);

// Shows one of the texts above with the job's devIndex in a modal box. For a job whose device
// is gone it shows the one removal message instead (once per handle, JobShouldEnd).
void ShowDeviceMessage(const IspJob& job, const char* format);
// The same for a text with a "%s" after the "%d".
void ShowDeviceMessage(const IspJob& job, const char* format, const std::string& detail);

} // namespace kestrel::program

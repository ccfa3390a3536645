#pragma once
// The contract between the operator program and the programming library: the per-device job
// record, the progress record and the posted window messages with every code they carry.
// The library reads a job record through the pointer it is given and writes only hDevice,
// loaderLevel and loaderClass. Plain C layout: the record crosses the library boundary.

#ifdef __cplusplus
#include <cstdint>
#else
#include <stdint.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

// One device's job of one ISP run. Field order is fixed; pointers and handles take their native
// width on 64-bit builds.
typedef struct IspJob {
    void* hWnd;              // window (message sink) that receives every notification; 0 = idle
    const char* redbootPath; // boot code image path chosen for the run
    const char* romfsPath;   // resource image path
    const char* romfs1Path;  // second resource image path, or "" when its controls are hidden
    void* hDevice;           // device handle from the device set
    const char* devId;       // reduced device identity
    int32_t devIndex;        // 0-based device index: slot and lParam of every notification
    int32_t imageType;       // run mode: 1 boot code, 2 resources, 3 program all
    int32_t readVerify;      // 0/1
    int32_t rebuildNandFs;   // 0/1
    int32_t copyDemo;        // 0/1
    int32_t romfs1Shown;     // 0/1
    int32_t writeRomfs;      // 0/1
    int32_t writeRomfs1;     // 0/1
    int32_t loaderLevel;     // low nibble of the loader signature byte, 0 without signature
    int32_t loaderClass;     // high nibble of that byte
} IspJob;

// What lParam of status codes 1 and 3 points to.
#pragma pack(push, 1)
typedef struct ProgressRecord {
    uint16_t devIndex;
    uint32_t steps;
} ProgressRecord;
#pragma pack(pop)

#ifdef __cplusplus
} // extern "C"
#endif

#ifdef __cplusplus
static_assert(sizeof(ProgressRecord) == 6, "ProgressRecord is a 16-bit index and a 32-bit count");
static_assert(sizeof(IspJob) == 6 * sizeof(void*) + 10 * 4,
              "IspJob holds six pointer-width fields and ten 32-bit fields");

namespace kestrel {

inline constexpr int kIspJobTableSize = 64; // capacity of the job table (and of the device set)

// Posted window messages.
inline constexpr std::uint32_t WM_ISP_STATUS = 1224;     // WM_USER + 200, to the Basic page
inline constexpr std::uint32_t WM_ISP_EVENT = 1225;      // WM_USER + 201, to the Basic page
inline constexpr std::uint32_t WM_DEVICE_REFRESH = 1226; // WM_USER + 202, to the main dialog

// wParam codes of WM_ISP_STATUS.
enum IspStatus : std::uint32_t {
    kStatusProgressRange = 1,   // lParam: ProgressRecord*; range grows by steps
    kStatusProgressStep = 2,    // lParam: device index; one step done
    kStatusProgressAdvance = 3, // lParam: ProgressRecord*; position advances by steps
    kStatusRunStart = 4,        // lParam: 0
    kStatusJobCount = 5,        // lParam: number of jobs of the run
    kStatusDemoReady = 7,       // lParam: not read
    kStatusDevicesChanged = 8,  // lParam: 0
    kStatusWorkerEnded = 256,   // lParam: device index
    kStatusWorkerStarted = 257, // lParam: device index
    kStatusRunBegins = 258,     // lParam: 0
    kStatusBusy = 512,          // lParam: 0; the ISP action stays off
    kStatusPhaseEnded = 513,    // lParam: 0; the ISP action comes back
    kStatusDeviceCount = 1280,  // lParam: number of connected devices
};

// wParam events of WM_ISP_EVENT; lParam is the device index.
enum IspEvent : std::uint32_t {
    kEventBootBegin = 768,
    kEventBootSucceeded = 769,
    kEventBootFailed = 770,
    kEventBootEnded = 771,
    kEventResourceBegin = 784,
    kEventResourceSucceeded = 785,
    kEventResourceFailed = 786,
    kEventResourceEnded = 787,
    kEventRebuildBegin = 800,
    kEventRebuildSucceeded = 801,
    kEventRebuildFailed = 802,
    kEventRebuildEnded = 803,
    kEventDemoBegin = 816,
    kEventDemoSucceeded = 817,
    kEventDemoFailed = 818,
    kEventDemoEnded = 819,
    kEventIspModeFailed = 1025,
    kEventIspModeSucceeded = 1026,
};

} // namespace kestrel
#endif

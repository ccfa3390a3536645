#pragma once
// WriteResourceImage: writes one resource image file into its NAND area (Romfs, its backup copy
// or Romfs1), good blocks only. Every block of the area is tested; the good ones form the
// GoodBlockMap. The image goes chunk by chunk (one block each) into map entries 1, 2, ...; a
// page that fails to write or to read back (with readVerify) takes its block out of the map and
// the chunk is written again into the block that moves up into its place. Last, page 0 of the
// block of map entry 0 receives the ResourceAreaRecord and the pages after it the map.
//
// Posts one progress step per tested block and per written page, and the progress range for
// the image (with [Romfs] DualImage the Romfs image announces both copies and the backup none).
//
// Returns 0 on success (also at once for an unconfigured Romfs1 area) and -1 on failure, after
// showing its text (job_notifications.h). Where the station bounds what the procedure
// would otherwise do:
// - a chunk for which no good block is left in the map (write failures removed them): stops
//   with kTextNoGoodBlockLeft; nothing is written outside the area;
// - a file that yields fewer bytes than its length said: kTextReadFileError;
// - a map that would reach past the record block: kTextMapTooLarge, before anything is written;
// - a stop request for the device: -1 without a message.
// The filler after the record, after the last map entry and after the last image byte of a
// page is zero.

#include "kestrel/isp_job.h"
#include "kestrellib/device/nand_layout.h"
#include "kestrellib/program/resource_area_record.h"
#include "kestrellib/program/resource_nand.h"

namespace kestrel::program {

int WriteResourceImage(const device::NandLayout& layout, const IspJob& job, ResourceImageKind kind,
                       ResourceNand& nand);

} // namespace kestrel::program

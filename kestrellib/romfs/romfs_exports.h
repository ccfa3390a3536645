#pragma once
// ROMFS builder exports of Kestrellib.
//
// mk_romfs builds one image of a directory tree; mk_romfs_ex builds the resource image of a
// request and then, when isp.ini [WrapImage] enable is set, the second resource image of
// [WrapImage] RomFs1InputDir into RomFs1OutPutName with the [WrapImage] version word, encoded
// by Scrivet when [Romfs1] Suppurtencryption is set (the default). Progress lines go to the
// standard output stream, messages to the standard error stream.
//
// Results: 0 when every image was written; otherwise the status of the first failed build,
// which is not followed by any other: 2 out of memory, 3 the tree cannot be read (or no input
// directory was given), 4 an output cannot be written, 5 an output cannot be positioned,
// 6 the tree exceeds the image limits (8192 nodes, 4094 entries in a directory, 1023-character
// paths, 259-byte names, 4 GiB), 7 an internal inconsistency. A failed build leaves no output
// file behind and keeps any earlier file of that name unchanged.
//
// One build runs at a time; a second caller waits.

#include "platform/export.h"

// The argument of mk_romfs_ex; owned by the caller for the duration of the call.
struct RomfsBuildRequest {
    const char* inputDir;     // root of the tree to pack (resource directory)
    const char* outputFile;   // path of the image to write
    unsigned int versionWord; // the header's version word
    const char* volumeName;   // the header's volume name, 1 to 16 characters (more are cut)
};

KESTREL_EXPORT int mk_romfs(const char* inputDir, const char* outputPath, unsigned int versionWord,
                            const char* volumeName);
KESTREL_EXPORT int mk_romfs_ex(RomfsBuildRequest* request);

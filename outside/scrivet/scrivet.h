#pragma once
// Scrivet: encodes a file into another. Our stand-in for the outside encoder; the transform (a
// keyed keystream added byte by byte, restarted for every block so that any block decodes on
// its own) is described in docs/scrivet-format.md. The encoded file has the length of the
// original. Results: 0 on success, -1 on failure; a failed call leaves no destination file.

#include "platform/export.h"

// Encodes all of src into dst with blocks of blockSize bytes (1 to 16 MiB; the station uses
// 2048) and the given key (the station uses 5).
KESTREL_EXPORT int EncodeFunc(const char* src, const char* dst, int blockSize, int key);
// As EncodeFunc with 2048-byte blocks, but the first 32 bytes (an image's header) stay as they
// are, so the device can read the header without the key.
KESTREL_EXPORT int EncodeFuncWithSkip(const char* src, const char* dst, int key);

// The inverse transforms.
KESTREL_EXPORT int DecodeFunc(const char* src, const char* dst, int blockSize, int key);
KESTREL_EXPORT int DecodeFuncWithSkip(const char* src, const char* dst, int key);

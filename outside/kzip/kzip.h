#pragma once
// kzip: compresses a file into another. Our stand-in for the outside compressor; the output
// format ("FZKZ", blocks of zlib streams, a CRC-32 trailer) is described in
// docs/kzip-format.md. Results: 0 on success, -1 on failure; a failed call leaves no
// destination file behind.

#include "platform/export.h"

// Compresses src into dst, blockSize bytes of src at a time (1 to 16 MiB; the station uses 2048).
KESTREL_EXPORT int file_compress(const char* src, const char* dst, int blockSize);
// Restores a file written by file_compress, checking every length and the CRC-32.
KESTREL_EXPORT int file_decompress(const char* src, const char* dst);

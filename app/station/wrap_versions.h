#pragma once
// The version texts of the Advanced page: the revision of a version-control working copy as the
// page shows it, and the parsing of the hexadecimal version fields it checks.

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::station {

// The revision text of the working copy at dir: bytes 7 onwards (at most 1024) of
// dir/.svn/entries, read as ParseHexPrefix and printed in lower-case hexadecimal. In an entries
// file whose first lines are a one-digit format number, an empty line and "dir", byte 7 starts
// the revision, so a revision of up to 8 decimal digits comes back unchanged; a longer one
// gives its first 10 digits read as hexadecimal and cut to 32 bits. "" when dir is empty or
// the file cannot be opened.
std::string ReadSvnRevision(const std::string& dir);

// The value of the hexadecimal digits at the start of text, at most 10 of them, in 32-bit
// wrap-around arithmetic; the first other character ends the scan (0 when there is none).
std::uint32_t ParseHexPrefix(std::string_view text);

// A version field of 1 to 4 characters: each character shifts the value 4 bits left and adds
// its hexadecimal digit value, a character that is no digit adding nothing (so "12G4" is
// 0x1204). -1 for an empty text or one of more than 4 characters.
int ParseVersionField(std::string_view text);

} // namespace kestrel::station

#pragma once
// Profile (INI) files with the semantics of the Windows private-profile functions:
// - section and key names match without regard to case; the first matching section and,
//   within it, the first matching key win;
// - string values are the text after "=", trimmed of surrounding blanks and one pair of
//   matching quotes, cut at 255 characters;
// - integer values parse like GetPrivateProfileInt: optional sign, "0x", "0o" or "0b" (lower
//   case only) for base 16, 8 or 2, leading digits only; a missing key or an empty value
//   yields the default;
// - line ends, encodings, comments and keys outside sections as ini_document.h describes;
// - only a regular file is read: a missing or unreadable file, a directory, a FIFO or a
//   device reads as empty, and no reader ever blocks on one;
// - a write creates the file when needed and keeps every other line of it, including comments
//   and lines it cannot parse, in the file's own encoding and line ends. A write through a
//   symbolic link changes the file the link names and leaves the link a link. A read-only file
//   is not written (the write fails and the file keeps its bytes and mode). The new content is
//   written to a temporary file beside the target and renamed over it, so a reader sees either
//   the old or the new file, never a torn one. Writes to one file from several threads of this
//   process are serialised.
// Every call reads the file anew; nothing is cached. Windows builds use this same engine (not
// the system's private-profile functions), so the station's files behave alike on every host;
// only the reading and replacing of the file is the host's (profile_file.h).

#include "platform/export.h"
#include <string>
#include <string_view>

namespace kestrel::platform {

inline constexpr std::size_t kProfileStringMax = 255;

// What lies at a profile file's path, as the readers see it.
enum class ProfileFileKind {
    kRegular,    // a regular file that could be read
    kMissing,    // nothing at the path
    kNotAFile,   // a directory, FIFO, device or socket: read as no file
    kUnreadable, // a regular file that cannot be opened or read
};

// Reads a profile file's bytes (empty unless kRegular). *why, when given, receives a sentence
// naming the full path and the reason whenever the result is not kRegular.
KESTREL_PLATFORM_API ProfileFileKind ReadProfileFile(const std::string& path, std::string* bytes,
                                                     std::string* why = nullptr);

KESTREL_PLATFORM_API int GetProfileInt(std::string_view section, std::string_view key,
                                       int defaultValue, const std::string& path);

KESTREL_PLATFORM_API std::string GetProfileString(std::string_view section, std::string_view key,
                                                  std::string_view defaultValue,
                                                  const std::string& path);

// Sets key=value in section; returns false when the file cannot be written, with a sentence
// naming the full path and the reason in *error when given.
KESTREL_PLATFORM_API bool WriteProfileString(std::string_view section, std::string_view key,
                                             std::string_view value, const std::string& path,
                                             std::string* error = nullptr);

// Removes the key from the section; true when the file is as requested afterwards.
KESTREL_PLATFORM_API bool DeleteProfileKey(std::string_view section, std::string_view key,
                                           const std::string& path, std::string* error = nullptr);

} // namespace kestrel::platform

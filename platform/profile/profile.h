#pragma once
// Profile (INI) files with the semantics of the Windows private-profile functions:
// - section and key names match without regard to case; the first matching section and,
//   within it, the first matching key win;
// - string values are the text after "=", trimmed of surrounding blanks and one pair of
//   matching quotes, cut at 255 characters;
// - integer values parse like GetPrivateProfileInt: optional sign, "0x" for hexadecimal,
//   leading digits only; a missing key or an empty value yields the default;
// - a missing or unreadable file reads as empty;
// - a write creates the file when needed and keeps every other line of it, including comments
//   and lines it cannot parse. The new content is written to a temporary file and renamed over
//   the old one, so a concurrent reader sees either the old or the new file, never a torn one.
//   Writes to one file from several threads of this process are serialised.
// Every call reads the file anew; nothing is cached.

#include <string>
#include <string_view>

namespace kestrel::platform {

inline constexpr std::size_t kProfileStringMax = 255;

int GetProfileInt(std::string_view section, std::string_view key, int defaultValue,
                  const std::string& path);

std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view defaultValue, const std::string& path);

// Sets key=value in section; returns false when the file cannot be written.
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path);

// Removes the key from the section; true when the file is as requested afterwards.
bool DeleteProfileKey(std::string_view section, std::string_view key, const std::string& path);

} // namespace kestrel::platform

#pragma once
// Values that stand in for keys of the configuration files for the length of one run without
// writing the files: kestrel-cli's one-run options (a Dram type chosen on the command line) are
// seen by every reader of config_files.h, on every thread, while the files keep their bytes.
// An override holds until it is cleared; OneRunOverrides clears its own when it ends.

#include <string>
#include <string_view>

namespace kestrel::config {

// Makes readers of file [section] key see value (names match without regard to case).
void SetOverride(std::string_view file, std::string_view section, std::string_view key,
                 std::string_view value);
void ClearOverrides();
// The override of file [section] key, if there is one.
bool FindOverride(std::string_view file, std::string_view section, std::string_view key,
                  std::string* value);

// Clears every override when the run's scope ends.
class OneRunOverrides {
public:
    OneRunOverrides() = default;
    ~OneRunOverrides() { ClearOverrides(); }
    OneRunOverrides(const OneRunOverrides&) = delete;
    OneRunOverrides& operator=(const OneRunOverrides&) = delete;
};

} // namespace kestrel::config

#pragma once
// The Basic page's settings as the ISP run uses them: the four paths, the run mode, the three
// options, whether the Romfs 1 row is shown, and the Dram type selection. They come from isp.ini
// when the page starts; the ISP action writes the paths back and applies the Dram type.

#include <string>

namespace kestrel::station {

struct PageSettings {
    std::string bootCodePath;
    std::string resourcePath;
    std::string romfs1Path; // taken into runs only while romfs1Shown is 1
    std::string demoDir;
    int imageType = 3; // 1 boot code, 2 resource + binary file, 3 program all
    int readVerify = 1;
    int rebuildNandFs = 1;
    int copyDemo = 1;
    int romfs1Shown = 0;
    int dramIndex = 0;      // selection index of the Dram type list
    int verifyAfterIsp = 0; // read each unit back after programming ([General] VerifyAfterIsp)
};

// The settings as the page reads them at start-up: an ImageType other than 1 or 2 runs as
// "Program All" (3) without rewriting the key; romfs1Shown is [Romfs1] enable.
PageSettings LoadPageSettings();

// Writes isp.ini [Redboot] name, [Romfs] name, [Romfs1] name and [Burn-D] Dir from the settings.
// False when a key could not be written, with the file and the reason in *error.
bool SaveRunPaths(const PageSettings& settings, std::string* error = nullptr);

// The DRAM setting a Dram type selection stands for: the key named by the selection index in
// config.ini section <ItemName>2 names another key of that section, whose integer value is the
// setting. `found` is false when either key is missing (the value is then 0).
struct DramSetting {
    std::string section; // <ItemName>2
    std::string entry;   // the name the index key gives, "" when it is missing
    int value = 0;
    bool found = false;
    std::string ValueText() const; // "0x%x", as "value" is written
};
DramSetting ResolveDramType(int selectionIndex);

// Stores the Dram type selection in isp.ini and copies its value into config.ini "value" of
// section <ItemName>2 (ResolveDramType). A missing config.ini is created with section "2"
// holding value 0x0. False when config.ini does not hold the selection's value afterwards (it
// could not be written), with the reason in *error; a selection that could not be kept in
// isp.ini alone still returns true, with the reason in *error.
bool ApplyDramType(int selectionIndex, std::string* error = nullptr);

} // namespace kestrel::station

// libFuzzer target: any bytes as an INI file (isp.ini, config.ini, profile.ini, RomPatch.ini).
// A document written back unchanged must give the file's bytes again; every key line must be
// found where queries look (the first section of its name); a value set must then be found as
// set, also after the text is written and read again; nothing may read or write outside the
// text.
#include "platform/profile/ini_document.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrel::platform::EqualNoCase;
    using kestrel::platform::IniDocument;
    using kestrel::platform::IniLine;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    IniDocument document = IniDocument::Parse(text);
    if (document.Serialize() != text) {
        std::abort(); // an unchanged document must be written as it was read
    }
    // Queries reach the first section of a name only (as on Windows): keys of a later section
    // of the same name are not found, and are not expected to be.
    std::string section, key;
    std::set<std::string> sectionNames;
    bool firstOfItsName = false;
    // Every look-up scans the document, so only the first lines are looked up: enough for what
    // a mutation changes, and quick for long inputs. A query already asked (names compare
    // without case) is not asked again: the document has not changed, so neither has the
    // answer; lines without a key (blanks, comments, other text) all ask their section for
    // the empty key.
    std::map<std::string, std::optional<std::string>> asked;
    std::size_t lookups = 0;
    for (const IniLine& line : document.Lines()) {
        if (++lookups > 64) {
            break;
        }
        if (line.kind == IniLine::Kind::kSection) {
            firstOfItsName = sectionNames.insert(Lower(line.section)).second;
        }
        auto [query, isNew] = asked.try_emplace(Lower(line.section) + '\n' + Lower(line.key));
        if (isNew) {
            query->second = document.Find(line.section, line.key);
            if (query->second.has_value() != (document.LineOf(line.section, line.key) != 0)) {
                std::abort();
            }
        }
        const std::optional<std::string>& value = query->second;
        if (line.kind != IniLine::Kind::kKey || !line.inSection || !firstOfItsName) {
            continue;
        }
        if (!value) {
            std::abort(); // a key of a section that no query reaches
        }
        (void)kestrel::platform::ParseProfileInt(*value);
        if (section.empty() && !line.section.empty() && !line.key.empty() &&
            !(EqualNoCase(line.section, "General") && EqualNoCase(line.key, "ItemName"))) {
            section = line.section;
            key = line.key;
        }
    }
    document.Remove("Romfs", "Path");
    document.Set("General", "ItemName", "Patch");
    if (!section.empty()) {
        document.Set(section, key, "0x10");
    }
    const IniDocument again = IniDocument::Parse(document.Serialize());
    for (const IniDocument* d : {static_cast<const IniDocument*>(&document), &again}) {
        if (d->Find("General", "ItemName") != "Patch" ||
            (!section.empty() && d->Find(section, key) != "0x10")) {
            std::abort();
        }
    }
    return 0;
}

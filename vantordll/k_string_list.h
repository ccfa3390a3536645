#pragma once
// KStringList: a fixed-capacity list of short strings, the one class that crosses library
// boundaries. It is a plain value of 260 slots of 260 characters (a string of at most 259
// characters and its NUL) followed by a signed 32-bit count of the slots in use; copying or
// assigning it copies every slot and the count, and it owns no other memory.
//
// Beyond the capacity the list never writes past its slots: a 261st string is refused, and a
// string of 260 characters or more is stored cut to its first 259. Every slot always holds a
// NUL-terminated string (empty until written), and GetString of an index outside the 260 slots
// answers an empty string.

#include "vantordll/vantordll_api.h"

#include <cstdint>
#include <type_traits>

class VANTORDLL_API KStringList {
public:
    static constexpr int kMaxStrings = 260;
    static constexpr int kSlotSize = 260; // characters per slot, the NUL included

    KStringList();

    // Copies text into slot GetCount() and counts it. False, leaving the list as it was, when
    // the list is full or text is null; a long text is cut (see above) and stored.
    bool InsertString(const char* text);
    // The characters of slot index.
    const char* GetString(int index) const;
    int GetCount() const;
    // Empties the list; the slots keep their characters until overwritten.
    void ReSet();
    // Sorts the used slots ascending by byte value (capitals before small letters), as a
    // bubble sort of neighbouring pairs, so equal strings keep their order.
    void Sort();

private:
    char strings[kMaxStrings][kSlotSize] = {};
    std::int32_t count = 0;
};

static_assert(sizeof(KStringList) ==
              KStringList::kMaxStrings * KStringList::kSlotSize + sizeof(std::int32_t));
static_assert(std::is_trivially_copyable_v<KStringList> && std::is_standard_layout_v<KStringList>);

#include "vantordll/k_string_list.h"

#include <cstring>

KStringList::KStringList() = default;

bool KStringList::InsertString(const char* text) {
    if (text == nullptr || count < 0 || count >= kMaxStrings) {
        return false;
    }
    char* slot = strings[count];
    const std::size_t length = strnlen(text, kSlotSize - 1);
    std::memcpy(slot, text, length);
    slot[length] = '\0';
    ++count;
    return true;
}

const char* KStringList::GetString(int index) const {
    if (index < 0 || index >= kMaxStrings) {
        return "";
    }
    return strings[index];
}

int KStringList::GetCount() const {
    return count;
}

void KStringList::ReSet() {
    count = 0;
}

void KStringList::Sort() {
    for (int i = 0; i < count; ++i) {
        for (int j = 1; j < count - i; ++j) {
            // strcmp compares as unsigned bytes: the byte order of the code page.
            if (std::strcmp(strings[j - 1], strings[j]) > 0) {
                char held[kSlotSize];
                std::memcpy(held, strings[j - 1], kSlotSize);
                std::memcpy(strings[j - 1], strings[j], kSlotSize);
                std::memcpy(strings[j], held, kSlotSize);
            }
        }
    }
}

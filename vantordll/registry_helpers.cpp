#include "vantordll/registry_helpers.h"

#include "platform/registry/scoped_key.h"

#include <cstring>
#include <string>

namespace reg = kestrel::platform::registry;
using kestrel::vantor::kMaxKeyPathLength;
using kestrel::vantor::kNameBufferSize;

namespace {

bool PathFits(const char* path) {
    return path == nullptr || std::strlen(path) <= kMaxKeyPathLength;
}

// Gives HKEY_LOCAL_MACHINE\path an access list of one entry granting full access to the
// Administrators group. Failing (no right to change the list) is not reported: the opening
// and deleting that follow then fail as they would have without the change.
void GrantAdministratorsFullAccess(const std::string& path) {
    reg::ScopedKey key;
    if (reg::OpenKeyEx(reg::kHkeyLocalMachine, path.c_str(), reg::kWriteDac, key.Receive()) !=
        reg::kErrorSuccess) {
        return;
    }
    reg::SecurityDescriptor descriptor;
    descriptor.daclPresent = true;
    descriptor.daclDefaulted = false;
    descriptor.dacl = {
        {reg::kAccessAllowedAceType, 0, reg::kKeyAllAccess, reg::kSidAdministrators}};
    reg::SetKeySecurity(key.Get(), reg::kDaclSecurityInformation, descriptor);
}

struct PassResult {
    bool metSubkey = false;
    bool deletedAny = false;
};

// One deletion pass over HKEY_LOCAL_MACHINE\path: replace the key's list, run a pass on each
// subkey the enumeration yields, then try to delete the key. Deleting while enumerating by
// index skips some subkeys; the caller repeats passes for those.
PassResult DeletionPass(const std::string& path) {
    PassResult result;
    GrantAdministratorsFullAccess(path);
    reg::ScopedKey key;
    reg::OpenKeyEx(reg::kHkeyLocalMachine, path.c_str(), reg::kKeyAllAccess, key.Receive());
    for (reg::DWORD index = 0; key.IsOpen(); ++index) {
        char name[kNameBufferSize];
        reg::DWORD nameSize = kNameBufferSize;
        if (reg::EnumKey(key.Get(), index, name, &nameSize) != reg::kErrorSuccess) {
            break;
        }
        result.metSubkey = true;
        const std::string child = path + "\\" + name;
        if (child.size() > kMaxKeyPathLength) {
            continue; // refused: too long for a key path here, so this key stays too
        }
        result.deletedAny |= DeletionPass(child).deletedAny;
    }
    if (reg::DeleteKey(reg::kHkeyLocalMachine, path.c_str()) == reg::kErrorSuccess) {
        result.deletedAny = true;
    }
    return result;
}

} // namespace

KStringList GetRegDir(const char* subKey, reg::HKEY hKey) {
    KStringList names;
    reg::ScopedKey key;
    if (!PathFits(subKey) || reg::OpenKey(hKey, subKey, key.Receive()) != reg::kErrorSuccess) {
        return names;
    }
    for (reg::DWORD index = 0; names.GetCount() < KStringList::kMaxStrings; ++index) {
        char name[kNameBufferSize];
        reg::DWORD nameSize = kNameBufferSize;
        if (reg::EnumKey(key.Get(), index, name, &nameSize) != reg::kErrorSuccess) {
            break;
        }
        names.InsertString(name);
    }
    key.Close();
    names.Sort();
    return names;
}

int ISDirInRegDir(const char* name, const char* subKey) {
    if (name == nullptr) {
        return 0;
    }
    const KStringList names = GetRegDir(subKey, reg::kHkeyLocalMachine);
    for (int i = 0; i < names.GetCount(); ++i) {
        if (std::strcmp(names.GetString(i), name) == 0) {
            return 1;
        }
    }
    return 0;
}

int DeleteRegValue(const char* subKey, const char* valueName, reg::HKEY hKey) {
    reg::ScopedKey key;
    if (!PathFits(subKey) || reg::OpenKey(hKey, subKey, key.Receive()) != reg::kErrorSuccess) {
        return 0;
    }
    return reg::DeleteValue(key.Get(), valueName) == reg::kErrorSuccess ? 1 : 0;
}

int WriteReg(const char* subKey, const char* valueName, const unsigned char* data,
             reg::DWORD dataSize, reg::DWORD type, reg::HKEY hKey) {
    if (!PathFits(subKey)) {
        return 0;
    }
    reg::ScopedKey key;
    if (reg::OpenKey(hKey, subKey, key.Receive()) != reg::kErrorSuccess &&
        reg::CreateKey(hKey, subKey, key.Receive()) != reg::kErrorSuccess) {
        return 0;
    }
    return reg::SetValue(key.Get(), valueName, type, data, dataSize) == reg::kErrorSuccess ? 1 : 0;
}

int ReadReg(const char* subKey, const char* valueName, unsigned char* buffer, reg::DWORD bufferSize,
            reg::DWORD type, reg::HKEY hKey) {
    if (buffer == nullptr) {
        return 0;
    }
    std::memset(buffer, 0, bufferSize);
    reg::ScopedKey key;
    if (!PathFits(subKey) || reg::OpenKey(hKey, subKey, key.Receive()) != reg::kErrorSuccess) {
        return 0;
    }
    reg::DWORD valueType = type;
    reg::DWORD size = bufferSize;
    if (reg::QueryValue(key.Get(), valueName, &valueType, buffer, &size) != reg::kErrorSuccess) {
        std::memset(buffer, 0, bufferSize);
        return 0;
    }
    return 1;
}

reg::LONG CopyRegDirAtoRegDirB(const char* srcSubKey, const char* dstSubKey, reg::HKEY hKey) {
    if (!PathFits(srcSubKey) || !PathFits(dstSubKey)) {
        return reg::kErrorBadPathname;
    }
    reg::ScopedKey source;
    if (const reg::LONG status = reg::OpenKey(hKey, srcSubKey, source.Receive());
        status != reg::kErrorSuccess) {
        return status;
    }
    for (reg::DWORD index = 0;; ++index) {
        char name[kNameBufferSize];
        unsigned char data[kNameBufferSize];
        reg::DWORD nameSize = kNameBufferSize;
        reg::DWORD dataSize = kNameBufferSize;
        reg::DWORD type = 0;
        if (reg::EnumValue(source.Get(), index, name, &nameSize, &type, data, &dataSize) !=
            reg::kErrorSuccess) {
            break;
        }
        reg::ScopedKey destination;
        if (reg::OpenKey(reg::kHkeyLocalMachine, dstSubKey, destination.Receive()) ==
                reg::kErrorSuccess ||
            reg::CreateKey(reg::kHkeyLocalMachine, dstSubKey, destination.Receive()) ==
                reg::kErrorSuccess) {
            reg::SetValue(destination.Get(), name, type, data, dataSize);
        }
    }
    return source.Close();
}

int DelRegDir(const char* subKey) {
    if (subKey == nullptr || !PathFits(subKey)) {
        return 0;
    }
    std::string path = subKey;
    while (!path.empty() && path.back() == '\\') {
        path.pop_back(); // subkey paths are built as path + "\\" + name
    }
    if (path.empty()) {
        return 0; // never the whole of HKEY_LOCAL_MACHINE
    }
    for (;;) {
        const PassResult pass = DeletionPass(path);
        if (!pass.metSubkey || !pass.deletedAny) {
            break;
        }
    }
    return 0;
}

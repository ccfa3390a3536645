// The registry helpers of VantorDll, run against the registry hive.
#include "registry_test_support.h"
#include "vantordll/registry_helpers.h"

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using kestrel::test::reg::kHkeyLocalMachine;
namespace reg = kestrel::test::reg;

class RegistryHelpers : public kestrel::test::RegistryTest {
protected:
    static std::vector<std::string> RegDir(const char* path, reg::HKEY root = kHkeyLocalMachine) {
        const auto list = std::make_unique<KStringList>(GetRegDir(path, root));
        std::vector<std::string> names;
        for (int i = 0; i < list->GetCount(); ++i) {
            names.emplace_back(list->GetString(i));
        }
        return names;
    }
    static const unsigned char* Bytes(const std::string& s) {
        return reinterpret_cast<const unsigned char*>(s.data());
    }
};

TEST_F(RegistryHelpers, GetRegDirListsDirectSubkeysInByteOrder) {
    for (const char* name : {"b", "C", "a", "a\\deeper"}) {
        MakeKey(std::string("SYSTEM\\Enum\\USBSTOR\\") + name);
    }
    // The registry enumerates a, b, C; the list comes back in byte order.
    EXPECT_EQ(RegDir("SYSTEM\\Enum\\USBSTOR"), (std::vector<std::string>{"C", "a", "b"}));
    EXPECT_TRUE(RegDir("SYSTEM\\Enum\\Missing").empty());
    EXPECT_TRUE(RegDir("SYSTEM\\Enum\\USBSTOR", reg::kHkeyCurrentUser).empty());
}

TEST_F(RegistryHelpers, ISDirInRegDirMatchesNamesCaseSensitively) {
    MakeKey("SYSTEM\\Enum\\USBSTOR\\ABC");
    EXPECT_EQ(ISDirInRegDir("abc", "SYSTEM\\Enum\\USBSTOR"), 0);
    EXPECT_EQ(ISDirInRegDir("ABC", "SYSTEM\\Enum\\USBSTOR"), 1);
    EXPECT_EQ(ISDirInRegDir("AB", "SYSTEM\\Enum\\USBSTOR"), 0);
    EXPECT_EQ(ISDirInRegDir("ABC", "SYSTEM\\Enum"), 0);
    EXPECT_EQ(ISDirInRegDir(nullptr, "SYSTEM\\Enum\\USBSTOR"), 0);
}

TEST_F(RegistryHelpers, WriteRegCreatesTheKeyAndReadRegReadsTheValueBack) {
    const std::string text = "Disk&Ven_USB";
    ASSERT_EQ(WriteReg("SOFTWARE\\Kestrel\\Station", "Model", Bytes(text),
                       static_cast<reg::DWORD>(text.size() + 1), reg::kRegSz, kHkeyLocalMachine),
              1);
    std::array<unsigned char, 32> buffer;
    buffer.fill(0xAA);
    ASSERT_EQ(ReadReg("SOFTWARE\\Kestrel\\Station", "Model", buffer.data(), buffer.size(),
                      reg::kRegNone, kHkeyLocalMachine),
              1);
    EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data()), text.c_str());
    EXPECT_EQ(buffer[text.size() + 1], 0) << "the rest of the buffer is zero-filled";
}

TEST_F(RegistryHelpers, ReadRegFailuresLeaveAZeroFilledBuffer) {
    SetValueBytes("SOFTWARE\\Kestrel", "Big", std::string(40, 'x'));
    struct Case {
        const char* label;
        const char* subKey;
        const char* value;
        std::size_t size;
    };
    for (const Case& c : {Case{"value larger than the buffer", "SOFTWARE\\Kestrel", "Big", 39},
                          Case{"missing value", "SOFTWARE\\Kestrel", "Missing", 64},
                          Case{"missing key", "SOFTWARE\\Nothing", "Big", 64}}) {
        std::array<unsigned char, 65> buffer; // one byte more than the largest buffer passed
        buffer.fill(0xAA);
        EXPECT_EQ(ReadReg(c.subKey, c.value, buffer.data(), static_cast<reg::DWORD>(c.size),
                          reg::kRegBinary, kHkeyLocalMachine),
                  0)
            << c.label;
        for (std::size_t i = 0; i < c.size; ++i) {
            ASSERT_EQ(buffer[i], 0) << c.label << " at " << i;
        }
        EXPECT_EQ(buffer[c.size], 0xAA) << c.label << ": nothing written past the buffer";
    }
}

TEST_F(RegistryHelpers, WriteRegFailsWhenTheKeyCanNeitherBeOpenedNorCreated) {
    reg::SetCallerToken({{reg::kSidUsers, reg::kSidEveryone}, reg::kSidUsers});
    EXPECT_EQ(WriteReg("SOFTWARE\\Kestrel", "v", Bytes("x"), 1, reg::kRegBinary, kHkeyLocalMachine),
              0);
    reg::SetCallerToken(reg::DefaultCallerToken());
    EXPECT_FALSE(KeyExists("SOFTWARE\\Kestrel"));
    EXPECT_EQ(
        WriteReg("SOFTWARE\\\\Kestrel", "v", Bytes("x"), 1, reg::kRegBinary, kHkeyLocalMachine), 0);
    EXPECT_FALSE(KeyExists("SOFTWARE"));
}

TEST_F(RegistryHelpers, DeleteRegValueReportsWhetherTheValueWasDeleted) {
    SetValueBytes("SOFTWARE\\Kestrel", "Gone", "1");
    SetValueBytes("SOFTWARE\\Kestrel", "Kept", "2");
    EXPECT_EQ(DeleteRegValue("SOFTWARE\\Kestrel", "Gone", kHkeyLocalMachine), 1);
    EXPECT_EQ(DeleteRegValue("SOFTWARE\\Kestrel", "Gone", kHkeyLocalMachine), 0);
    EXPECT_EQ(DeleteRegValue("SOFTWARE\\Missing", "Kept", kHkeyLocalMachine), 0);
    EXPECT_FALSE(ValueBytes("SOFTWARE\\Kestrel", "Gone"));
    EXPECT_EQ(ValueBytes("SOFTWARE\\Kestrel", "Kept"), "2");
}

TEST_F(RegistryHelpers, CopyStopsAtTheFirstValueThatDoesNotFit) {
    SetValueBytes("SOFTWARE\\Source", "first", std::string(10, '1'), reg::kRegBinary);
    SetValueBytes("SOFTWARE\\Source", "second", std::string(260, '2'), reg::kRegSz);
    SetValueBytes("SOFTWARE\\Source", "huge", std::string(261, 'h'));
    SetValueBytes("SOFTWARE\\Source", "after", "a");
    EXPECT_EQ(CopyRegDirAtoRegDirB("SOFTWARE\\Source", "SOFTWARE\\Copy", kHkeyLocalMachine), 0);
    EXPECT_EQ(ValueBytes("SOFTWARE\\Copy", "first"), std::string(10, '1'));
    EXPECT_EQ(ValueBytes("SOFTWARE\\Copy", "second"), std::string(260, '2'));
    EXPECT_FALSE(ValueBytes("SOFTWARE\\Copy", "huge"));
    EXPECT_FALSE(ValueBytes("SOFTWARE\\Copy", "after"));

    reg::ScopedKey copy;
    ASSERT_EQ(reg::OpenKey(kHkeyLocalMachine, "SOFTWARE\\Copy", copy.Receive()),
              reg::kErrorSuccess);
    reg::DWORD type = 0;
    ASSERT_EQ(reg::QueryValue(copy.Get(), "second", &type, nullptr, nullptr), reg::kErrorSuccess);
    EXPECT_EQ(type, reg::kRegSz);
}

TEST_F(RegistryHelpers, CopyFromAMissingKeyCreatesNothing) {
    EXPECT_NE(CopyRegDirAtoRegDirB("SOFTWARE\\Missing", "SOFTWARE\\Copy", kHkeyLocalMachine), 0);
    EXPECT_FALSE(KeyExists("SOFTWARE\\Copy"));
}

TEST_F(RegistryHelpers, DelRegDirReplacesEveryListBeforeDeletingAThreeLevelTree) {
    const std::vector<std::string> tree = {"SYSTEM\\Enum\\USBSTOR\\Disk",
                                           "SYSTEM\\Enum\\USBSTOR\\Disk\\0001",
                                           "SYSTEM\\Enum\\USBSTOR\\Disk\\0002",
                                           "SYSTEM\\Enum\\USBSTOR\\Disk\\0001\\Props",
                                           "SYSTEM\\Enum\\USBSTOR\\Disk\\0001\\Ctl",
                                           "SYSTEM\\Enum\\USBSTOR\\Disk\\0002\\Props"};
    for (const auto& path : tree) {
        MakeKey(path);
        SetValueBytes(path, "FriendlyName", "USB DISK MASS STORAGE", reg::kRegSz);
    }
    // Every key refuses deletion to Administrators until its list is replaced.
    for (const auto& path : tree) {
        SetSecurity(path, reg::kSidAdministrators,
                    {{reg::kAccessDeniedAceType, 0, reg::kDelete, reg::kSidAdministrators},
                     {reg::kAccessAllowedAceType, 0, reg::kKeyAllAccess, reg::kSidLocalSystem},
                     {reg::kAccessAllowedAceType, 0, reg::kKeyRead, reg::kSidUsers}});
    }
    ASSERT_EQ(reg::DeleteKey(kHkeyLocalMachine, tree[3].c_str()), reg::kErrorAccessDenied);

    EXPECT_EQ(DelRegDir("SYSTEM\\Enum\\USBSTOR\\Disk"), 0);
    EXPECT_FALSE(KeyExists("SYSTEM\\Enum\\USBSTOR\\Disk"));
    EXPECT_TRUE(KeyExists("SYSTEM\\Enum\\USBSTOR"));
}

TEST_F(RegistryHelpers, DelRegDirLeavesTheListWithOnlyTheAdministratorsEntry) {
    // A key that is kept (a subkey stays undeletable) shows the replaced list.
    MakeKey("SYSTEM\\Keep\\Locked");
    SetSecurity("SYSTEM\\Keep\\Locked", reg::kSidLocalSystem,
                {{reg::kAccessAllowedAceType, 0, reg::kKeyRead, reg::kSidEveryone}});
    SetSecurity("SYSTEM\\Keep", reg::kSidAdministrators,
                {{reg::kAccessAllowedAceType, 0, reg::kKeyAllAccess, reg::kSidUsers},
                 {reg::kAccessAllowedAceType, 0, reg::kKeyAllAccess, reg::kSidAdministrators}});
    EXPECT_EQ(DelRegDir("SYSTEM\\Keep"), 0);

    reg::ScopedKey key;
    ASSERT_EQ(reg::OpenKeyEx(kHkeyLocalMachine, "SYSTEM\\Keep", reg::kReadControl, key.Receive()),
              reg::kErrorSuccess);
    reg::SecurityDescriptor security;
    ASSERT_EQ(reg::GetKeySecurity(key.Get(), &security), reg::kErrorSuccess);
    EXPECT_TRUE(security.daclPresent);
    EXPECT_EQ(security.dacl,
              (std::vector<reg::Ace>{
                  {reg::kAccessAllowedAceType, 0, reg::kKeyAllAccess, reg::kSidAdministrators}}));
}

TEST_F(RegistryHelpers, DelRegDirEndsWhenAKeyStaysUndeletable) {
    for (const char* name : {"a", "Locked", "z", "a\\1", "z\\1"}) {
        MakeKey(std::string("SYSTEM\\Enum\\USBSTOR\\Disk\\") + name);
    }
    // Owned by local system and only readable: the list cannot be replaced, the key not deleted.
    SetSecurity("SYSTEM\\Enum\\USBSTOR\\Disk\\Locked", reg::kSidLocalSystem,
                {{reg::kAccessAllowedAceType, 0, reg::kKeyRead, reg::kSidEveryone}});

    EXPECT_EQ(DelRegDir("SYSTEM\\Enum\\USBSTOR\\Disk"), 0);
    EXPECT_EQ(RegDir("SYSTEM\\Enum\\USBSTOR\\Disk"), (std::vector<std::string>{"Locked"}));
}

TEST_F(RegistryHelpers, DelRegDirEndsWhenSubkeyPathsAreTooLong) {
    const std::string parent = "SYSTEM\\" + std::string(250, 'p');
    MakeKey(parent + "\\" + std::string(20, 'c'));
    MakeKey(parent + "\\c");
    EXPECT_EQ(DelRegDir(parent.c_str()), 0);
    EXPECT_EQ(RegDir(parent.c_str()), (std::vector<std::string>{std::string(20, 'c')}));
}

TEST_F(RegistryHelpers, EmptyAndTooLongPathsAreRefused) {
    MakeKey("SYSTEM\\Enum");
    for (const char* path : {"", "\\", "\\\\"}) {
        EXPECT_EQ(DelRegDir(path), 0);
        EXPECT_TRUE(KeyExists("SYSTEM\\Enum")) << "path \"" << path << "\"";
    }
    EXPECT_EQ(DelRegDir(nullptr), 0);

    const std::string tooLong = "SOFTWARE\\" + std::string(255, 'k'); // 264 characters
    const std::string longest = tooLong.substr(0, 263);
    EXPECT_EQ(WriteReg(tooLong.c_str(), "v", Bytes("x"), 1, reg::kRegBinary, kHkeyLocalMachine), 0);
    EXPECT_FALSE(KeyExists(tooLong));
    EXPECT_EQ(WriteReg(longest.c_str(), "v", Bytes("x"), 1, reg::kRegBinary, kHkeyLocalMachine), 1);
    // The same key made through the registry layer is still out of the helpers' reach.
    MakeKey(tooLong + "\\sub");
    SetValueBytes(tooLong, "v", "x");
    EXPECT_TRUE(RegDir(tooLong.c_str()).empty());
    std::array<unsigned char, 4> buffer{};
    EXPECT_EQ(ReadReg(tooLong.c_str(), "v", buffer.data(), 4, 0, kHkeyLocalMachine), 0);
    EXPECT_EQ(DeleteRegValue(tooLong.c_str(), "v", kHkeyLocalMachine), 0);
    EXPECT_EQ(DelRegDir(tooLong.c_str()), 0);
    EXPECT_EQ(ValueBytes(tooLong, "v"), "x");
    EXPECT_TRUE(KeyExists(tooLong + "\\sub"));
}

} // namespace

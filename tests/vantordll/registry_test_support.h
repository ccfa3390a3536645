#pragma once
// Registry set-up for tests: each test gets a fresh module directory, so a fresh hive file, and
// the station's default caller token; small helpers build keys and read them back through the
// registry layer.

#include "platform/registry/hive_control.h"
#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kestrel::test {

namespace reg = kestrel::platform::registry;

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { reg::SetCallerToken(reg::DefaultCallerToken()); }
    void TearDown() override { reg::SetCallerToken(reg::DefaultCallerToken()); }

    static void MakeKey(const std::string& path) {
        reg::ScopedKey key;
        ASSERT_EQ(reg::CreateKey(reg::kHkeyLocalMachine, path.c_str(), key.Receive()),
                  reg::kErrorSuccess)
            << path;
    }
    static bool KeyExists(const std::string& path) {
        reg::ScopedKey key;
        return reg::OpenKeyEx(reg::kHkeyLocalMachine, path.c_str(), 0, key.Receive()) ==
               reg::kErrorSuccess;
    }
    static void SetValueBytes(const std::string& path, const std::string& name,
                              const std::string& bytes, reg::DWORD type = reg::kRegBinary) {
        reg::ScopedKey key;
        ASSERT_EQ(reg::CreateKey(reg::kHkeyLocalMachine, path.c_str(), key.Receive()),
                  reg::kErrorSuccess);
        ASSERT_EQ(reg::SetValue(key.Get(), name.c_str(), type,
                                reinterpret_cast<const reg::BYTE*>(bytes.data()),
                                static_cast<reg::DWORD>(bytes.size())),
                  reg::kErrorSuccess);
    }
    static std::optional<std::string> ValueBytes(const std::string& path, const std::string& name) {
        reg::ScopedKey key;
        if (reg::OpenKeyEx(reg::kHkeyLocalMachine, path.c_str(), reg::kKeyQueryValue,
                           key.Receive()) != reg::kErrorSuccess) {
            return std::nullopt;
        }
        reg::DWORD size = 0;
        if (reg::QueryValue(key.Get(), name.c_str(), nullptr, nullptr, &size) !=
            reg::kErrorSuccess) {
            return std::nullopt;
        }
        std::string bytes(size, '\0');
        if (reg::QueryValue(key.Get(), name.c_str(), nullptr,
                            reinterpret_cast<reg::BYTE*>(bytes.data()),
                            &size) != reg::kErrorSuccess) {
            return std::nullopt;
        }
        return bytes;
    }
    // Sets owner and list of HKEY_LOCAL_MACHINE\path in one step.
    static void SetSecurity(const std::string& path, const std::string& owner,
                            std::vector<reg::Ace> dacl) {
        reg::ScopedKey key;
        ASSERT_EQ(reg::OpenKeyEx(reg::kHkeyLocalMachine, path.c_str(),
                                 reg::kWriteDac | reg::kWriteOwner, key.Receive()),
                  reg::kErrorSuccess)
            << path;
        reg::SecurityDescriptor descriptor;
        descriptor.owner = owner;
        descriptor.dacl = std::move(dacl);
        ASSERT_EQ(reg::SetKeySecurity(
                      key.Get(), reg::kOwnerSecurityInformation | reg::kDaclSecurityInformation,
                      descriptor),
                  reg::kErrorSuccess);
    }

    TempHome home_;
};

} // namespace kestrel::test

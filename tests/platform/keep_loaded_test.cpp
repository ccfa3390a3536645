// A library that asked to be kept stays loaded after the program lets go of it (dlclose,
// FreeLibrary), so code the platform layer still holds stays callable.
#include "platform/modules/keep_loaded.h"
#include "support/loaded_library.h"

#include <gtest/gtest.h>

namespace {

bool StillLoaded(const char* path) {
#if defined(_WIN32)
    return GetModuleHandleA(path) != nullptr;
#else
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) {
        dlclose(handle);
    }
    return handle != nullptr;
#endif
}

TEST(KeepModuleLoaded, AKeptLibraryOutlivesItsLastUnload) {
    {
        kestrel::test::LoadedLibrary probe(KEEP_LOADED_PROBE_PATH);
        ASSERT_TRUE(probe.Loaded()) << kestrel::test::LoadedLibrary::LastError();
        auto keep = probe.Get<int()>("KeepProbeLoaded");
        ASSERT_NE(keep, nullptr);
        EXPECT_EQ(keep(), 1);
    }
    EXPECT_TRUE(StillLoaded(KEEP_LOADED_PROBE_PATH));
}

TEST(KeepModuleLoaded, AnAddressNoLibraryHoldsIsRefused) {
    int onTheStack = 0;
    EXPECT_FALSE(kestrel::platform::KeepModuleLoaded(&onTheStack));
}

} // namespace

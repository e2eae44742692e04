// The resources built into Orvane.exe: the icon group and the application manifest.
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace Orv {
namespace {

#pragma pack(push, 2)
struct IconDirEntry {
    BYTE width;
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
struct IconDir {
    WORD reserved;
    WORD type;
    WORD count;
    IconDirEntry entries[1];
};
#pragma pack(pop)

class LauncherResources : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring exe = Support::BinaryFolder() + L"\\Orvane.exe";
        module =
            ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override {
        if (module != nullptr) {
            ::FreeLibrary(module);
        }
    }
    std::string Resource(LPCWSTR type, LPCWSTR name) {
        HRSRC found = ::FindResourceW(module, name, type);
        if (found == nullptr) {
            return {};
        }
        const void* data = ::LockResource(::LoadResource(module, found));
        return std::string(static_cast<const char*>(data), ::SizeofResource(module, found));
    }
    HMODULE module = nullptr;
};

TEST_F(LauncherResources, IconOneHoldsThreeImagesOfTheRightSizesAndDepths) {
    const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
    ASSERT_GE(group.size(), 6U + 3 * sizeof(IconDirEntry));
    const auto* dir = reinterpret_cast<const IconDir*>(group.data());
    ASSERT_EQ(dir->count, 3);
    const int sizes[3] = {48, 32, 16};
    const int depths[3] = {32, 24, 24};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dir->entries[i].width, sizes[i]);
        EXPECT_EQ(dir->entries[i].height, sizes[i]);
        EXPECT_EQ(dir->entries[i].bitCount, depths[i]);
        EXPECT_FALSE(Resource(RT_ICON, MAKEINTRESOURCEW(dir->entries[i].id)).empty());
    }
}

TEST_F(LauncherResources, ManifestNamesTheLauncherAsInvokerWithCommonControlsSixAndLongPaths) {
    const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty());
    for (const char* needle :
         {"name=\"Orvane.Launcher\" version=\"1.0.0.0\"", "<description>Orvane launcher</description>",
          "level=\"asInvoker\"", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
          "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          "<longPathAware "
          "xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>"}) {
        EXPECT_NE(manifest.find(needle), std::string::npos) << needle;
    }
    EXPECT_EQ(manifest.find("dpiAware"), std::string::npos);
}

} // namespace
} // namespace Orv

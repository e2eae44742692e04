// The launcher built with a release key (OrvaneKeyed.exe, the test publisher's key) against signed,
// tampered and unsigned releases on the test mirrors.
#include "launcher_window.h"

#include "core/text.h"
#include "support/mirror_helpers.h"

#include <gtest/gtest.h>

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;
using Support::WindowView;

class KeyedLauncher : public Support::LauncherWindow {
protected:
    void SetUp() override {
        LauncherWindow::SetUp();
        ASSERT_TRUE(
            ::CopyFileW((Support::BinaryFolder() + L"\\OrvaneKeyed.exe").c_str(), exe.c_str(), FALSE));
    }
    std::wstring Base(const std::wstring& suffix = {}) const {
        return Support::HttpBase() + mirrorName + suffix + L"/";
    }
};

TEST_F(KeyedLauncher, InstallsASignedReleaseAfterRefusingATamperedMirror) {
    Publish(4, {L"--sign", Support::PublisherKeyFile()});
    // The first mirror serves the same release with one byte of its manifest changed.
    std::string tampered = ReadFileOrEmpty(MirrorPath() + L"\\manifest.txt");
    tampered[tampered.find("release\t4")] = 'R';
    Support::WriteFileBytes(MirrorPath() + L"-tampered\\manifest.txt", tampered);
    Support::WriteFileBytes(game / L".orvane\\mirrors.txt",
                            WideToUtf8(Base(L"-tampered") + L"\n" + Base() + L"\n"));
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForDone(window)) << LogText();
    EXPECT_TRUE(LogHas(
        WideToUtf8(L"manifest " + Base(L"-tampered") + L": The release is not signed by the publisher.")))
        << LogText();
    for (const std::wstring& path : Support::FilesBelow(source.Path())) {
        if (path != L"VersionInfo.ver") {
            EXPECT_EQ(ReadFileOrEmpty(game / path), ReadFileOrEmpty(source / path)) << WideToUtf8(path);
        }
    }
}

TEST_F(KeyedLauncher, ShowsWhyItRefusesAnUnsignedReleaseAndChangesNothing) {
    Publish(4);
    const auto before = Support::FilesBelow(game.Path());
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForView(
        window, [](const WindowView& v) { return v.playEnabled && v.play == L"RETRY"; }, Support::kRunLimit));
    EXPECT_EQ(Look(window).status,
              L"Cannot reach the update server.\nThe release is not signed by the publisher.");
    auto after = Support::FilesBelow(game.Path());
    std::erase(after, L".orvane/launcher.log");
    EXPECT_EQ(after, before);
}

} // namespace
} // namespace Orv

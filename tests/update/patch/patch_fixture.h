#pragma once
// The fixture of the patch tests: a release with a large archive (twice) installed from nginx, edits
// published as the next release, and runs of UpdateRun.
#include "core/log.h"
#include "core/text.h"
#include "support/mirror_env.h"
#include "support/mirror_helpers.h"
#include "support/mirror_test.h"
#include "support/test_folder.h"
#include "update/update_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace Orv {

constexpr size_t kArchiveSize = 24 * 1024 * 1024;

class PatchUpdate : public Support::MirrorTest {
protected:
    void SetUp() override {
        MirrorTest::SetUp();
        mirrorName = L"patch_" + std::to_wstring(::GetTickCount64());
        archive = Support::RandomBytes(kArchiveSize, 31);
        WriteSource();
        Support::WriteFileBytes(source / L"readme.txt", readme);
        Publish(1);
        UseMirror(Support::HttpBase());
        Run();
        ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    }
    // The archive twice: a second path with the same content is a copy of the first.
    void WriteSource() {
        Support::WriteFileBytes(source / L"data\\archive.pak", archive);
        Support::WriteFileBytes(source / L"data\\archive copy.pak", archive);
    }
    // Rewrites `count` scattered 4 KiB regions of the archive and publishes the next release.
    void EditAndPublish(int count, int release) {
        std::mt19937 random(static_cast<unsigned>(release));
        for (int i = 0; i < count; ++i) {
            const size_t at = random() % (archive.size() - 4096);
            archive.replace(at, 4096, Support::RandomBytes(4096, random()));
        }
        WriteSource();
        Publish(release);
    }
    void Publish(int release) {
        const auto published = Support::RunPublish(source.Path(), MirrorPath(), release, publishOptions);
        ASSERT_EQ(published.exitCode, 0U) << published.output;
    }
    std::wstring MirrorPath() const { return Support::MirrorRoot() + L"\\" + mirrorName; }
    // The mirror's objects with the suffix (".c" chunks, ".l" chunk lists).
    std::vector<std::wstring> MirrorObjects(const wchar_t* suffix) const {
        std::vector<std::wstring> found;
        for (const auto& item : std::filesystem::recursive_directory_iterator(MirrorPath())) {
            if (item.path().extension() == suffix) {
                found.push_back(item.path().wstring());
            }
        }
        return found;
    }
    void UseMirror(const std::wstring& base) {
        Support::WriteFileBytes(game / L".orvane\\mirrors.txt", WideToUtf8(base + mirrorName) + "/\n");
    }
    void Run(std::stop_token stop = {}) {
        OpenLog(game / L".orvane\\launcher.log");
        UpdateRun(UpdateParams{game.Path(), false, false, L""}, progress, stop);
    }
    std::wstring Status() {
        std::lock_guard guard(progress.lock);
        return progress.statusText;
    }
    std::string LogText() const { return Support::ReadFileOrEmpty(game / L".orvane\\launcher.log"); }
    // Every file is the release's, and no staging or download file is left.
    void ExpectTheRelease() {
        EXPECT_EQ(Support::ReadFileOrEmpty(game / L"data\\archive.pak"), archive);
        EXPECT_EQ(Support::ReadFileOrEmpty(game / L"data\\archive copy.pak"), archive);
        EXPECT_EQ(Support::ReadFileOrEmpty(game / L"readme.txt"), readme);
        for (const std::wstring& path : Support::FilesBelow(game.Path())) {
            EXPECT_FALSE(path.ends_with(L".ovnew")) << WideToUtf8(path);
        }
        EXPECT_FALSE(Support::Exists(game / L".orvane\\download"));
    }

    std::wstring mirrorName;
    // What every publish is given: the tests of loose chunks publish without packs.
    std::vector<std::wstring> publishOptions;
    std::string archive;
    std::string readme = "read me\n";
    Support::TempFolder source;
    Support::TempFolder game;
    UpdateProgress progress;
};

} // namespace Orv

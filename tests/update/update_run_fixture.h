#pragma once
// The fixture of the whole-run tests: a small game published by orvanectl, a game folder, and runs of
// UpdateRun watched phase by phase.
#include "core/log.h"
#include "core/text.h"
#include "install/registration.h"
#include "support/mirror_env.h"
#include "support/mirror_helpers.h"
#include "support/mirror_test.h"
#include "support/object_fixture.h"
#include "support/test_folder.h"
#include "update/trust/release_floor.h"
#include "update/update_run.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace Orv {

class UpdateRunTest : public Support::MirrorTest {
protected:
    void SetUp() override {
        MirrorTest::SetUp();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Halvex\\Kelvaro");
        mirrorName =
            L"run_" + std::to_wstring(::GetTickCount64()) + L"_" + std::to_wstring(counter.fetch_add(1));
        WriteSource();
    }
    void TearDown() override {
        RemoveReleaseFloor(game.Path());
        MirrorTest::TearDown();
    }

    // A small game: a client version file that keeps local changes, data in folders, a duplicate.
    void WriteSource() {
        Support::WriteFileBytes(source / L"VersionInfo.ver", "Region EU\r\nClientVersion 0.0.1\r\n");
        Support::WriteFileBytes(source / L"Engine.exe", Support::SampleBytes(300000, 1));
        Support::WriteFileBytes(source / L"data\\maps\\north.map", Support::SampleBytes(400000, 2, true));
        Support::WriteFileBytes(source / L"data\\maps\\south.map", Support::SampleBytes(5000, 3, true));
        Support::WriteFileBytes(source / L"data\\copy of north.map", Support::SampleBytes(400000, 2, true));
        Support::WriteFileBytes(source / L"lang\\tr\\söz.txt", "merhaba");
    }
    size_t SourceFiles() const { return 6; }

    void Publish(int release, std::vector<std::wstring> extra = {}) { PublishTo(mirrorName, release, extra); }
    // Publishes the source as the release onto the mirror folder of that name.
    void PublishTo(const std::wstring& folder, int release, std::vector<std::wstring> extra = {}) {
        extra.insert(extra.end(), {L"--keep", L"VersionInfo.ver", L"--server", L"10.0.0.7:4000"});
        const auto published =
            Support::RunPublish(source.Path(), Support::MirrorRoot() + L"\\" + folder, release, extra);
        ASSERT_EQ(published.exitCode, 0U) << published.output;
    }
    std::wstring MirrorPath() const { return Support::MirrorRoot() + L"\\" + mirrorName; }
    void UseMirror(const std::wstring& base) {
        Support::WriteFileBytes(game / L".orvane\\mirrors.txt", WideToUtf8(base + mirrorName) + "/\n");
    }

    // Runs one update to its end, recording every phase the record passes through.
    std::vector<Phase> Run(bool repair = false, std::stop_token stop = {}) {
        OpenLog(game / L".orvane\\launcher.log");
        // As the window does: the record leaves the previous run's end before the run exists.
        progress.phase.store(Phase::Starting);
        std::vector<Phase> phases{Phase::Starting};
        std::atomic<bool> ended{false};
        std::jthread watcher([&] {
            ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
            Phase last = Phase::Starting;
            while (!ended.load()) {
                const Phase now = progress.phase.load();
                if (now != last) {
                    phases.push_back(now);
                    last = now;
                }
                std::this_thread::yield();
            }
            if (progress.phase.load() != last) {
                phases.push_back(progress.phase.load());
            }
        });
        UpdateParams params{game.Path(), repair, false, L""};
        params.releaseKey = releaseKey;
        UpdateRun(params, progress, stop);
        ended.store(true);
        watcher.join();
        return phases;
    }
    std::string LogText() const { return Support::ReadFileOrEmpty(game / L".orvane\\launcher.log"); }

    // The phases seen are the expected ones in order (a quick phase may pass unseen between two
    // samples) and the run ended in the last one; the log lines each phase writes show the order.
    static void ExpectPhases(const std::vector<Phase>& seen, const std::vector<Phase>& expected) {
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back(), expected.back());
        size_t next = 0;
        for (const Phase phase : seen) {
            while (next < expected.size() && expected[next] != phase) {
                ++next;
            }
            EXPECT_LT(next, expected.size()) << "phase " << static_cast<int>(phase) << " out of order";
        }
    }
    void ExpectLogInOrder(const std::vector<std::string>& lines) const {
        const std::string log = LogText();
        size_t position = 0;
        for (const std::string& line : lines) {
            const size_t found = log.find(" " + line + "\r\n", position);
            ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
            position = found;
        }
    }
    bool LogHas(const std::string& line) const {
        return LogText().find(" " + line + "\r\n") != std::string::npos;
    }
    std::wstring Status() {
        std::lock_guard guard(progress.lock);
        return progress.statusText;
    }
    void ExpectGameMatchesSource() {
        for (const auto& path : Support::FilesBelow(source.Path())) {
            std::wstring relative = path;
            for (auto& c : relative) {
                c = c == L'/' ? L'\\' : c;
            }
            if (relative != L"VersionInfo.ver") {
                EXPECT_EQ(Support::ReadFileOrEmpty(game / relative),
                          Support::ReadFileOrEmpty(source / relative))
                    << WideToUtf8(relative);
            }
        }
    }
    size_t ObjectRequests() {
        size_t count = 0;
        for (const auto& r : Support::FaultRequests()) {
            count += r.path.find("/objects/") != std::string::npos ? 1 : 0;
        }
        return count;
    }

    inline static std::atomic<int> counter{0};
    std::string releaseKey; // the run's: none, as a launcher built without a key
    Support::TempFolder source;
    Support::TempFolder game;
    std::wstring mirrorName;
    UpdateProgress progress;
};

} // namespace Orv

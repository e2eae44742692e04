#include "core/log.h"
#include "support/test_folder.h"
#include "update/update_progress.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace Orv {
namespace {

TEST(UpdateProgressRecord, StartsIdleWithEmptyCountersAndInactiveSlots) {
    UpdateProgress progress;
    EXPECT_EQ(progress.phase.load(), Phase::Idle);
    EXPECT_EQ(progress.bytesDone.load(), 0U);
    EXPECT_EQ(progress.slots.size(), 12U);
    for (const auto& slot : progress.slots) {
        EXPECT_FALSE(slot.active.load());
    }
    EXPECT_EQ(progress.release, 0);
}

TEST(UpdateProgressRecord, FailKeepsBothLinesAndLogsThemAsOneLine) {
    Support::TempFolder folder;
    OpenLog(folder / L"launcher.log");
    UpdateProgress progress;
    progress.phase.store(Phase::Downloading);
    Fail(progress, L"The update could not be completed.\nx.bin: HTTP 403");
    EXPECT_EQ(progress.phase.load(), Phase::Failed);
    EXPECT_EQ(progress.statusText, L"The update could not be completed.\nx.bin: HTTP 403");
    const std::string log = Support::ReadFileOrEmpty(folder / L"launcher.log");
    ASSERT_GE(log.size(), 20U);
    EXPECT_EQ(log.substr(20), "The update could not be completed.\nx.bin: HTTP 403\r\n");
}

TEST(UpdateProgressRecord, SetStatusWithoutLoggingOnlyReplacesTheLine) {
    Support::TempFolder folder;
    OpenLog(folder / L"launcher.log");
    UpdateProgress progress;
    SetStatus(progress, L"quiet", false);
    EXPECT_EQ(progress.statusText, L"quiet");
    EXPECT_EQ(Support::ReadFileOrEmpty(folder / L"launcher.log"), "");
}

TEST(UpdateProgressRecord, ConcurrentAdditionsAndCorrectionsAreNeverLost) {
    UpdateProgress progress;
    {
        std::vector<std::jthread> workers;
        for (int t = 0; t < 8; ++t) {
            workers.emplace_back([&progress] {
                for (int i = 0; i < 20000; ++i) {
                    // Large steps cross the 32-bit boundary; a negative correction wraps back.
                    progress.bytesDone.fetch_add(0x100000001ULL);
                    progress.bytesDone.fetch_add(static_cast<uint64_t>(-1));
                }
            });
        }
    }
    EXPECT_EQ(progress.bytesDone.load(), 8ULL * 20000ULL * 0x100000000ULL);
}

} // namespace
} // namespace Orv

namespace Orv {
namespace {

TEST(ShownDownload, NeverGoesBackAndIsWholeOnlyWhenAllIsDone) {
    EXPECT_EQ(ShownDownloadPermille(0, 0, 0), 0U);
    EXPECT_EQ(ShownDownloadPermille(500, 1000, 0), 500U);
    // A fallback adds its whole object to the total: the bar stays where it was.
    EXPECT_EQ(ShownDownloadPermille(500, 4000, 500), 500U);
    EXPECT_EQ(ShownDownloadPermille(3999, 4000, 500), 999U);
    EXPECT_EQ(ShownDownloadPermille(4000, 4000, 999), 1000U);
    EXPECT_EQ(ShownDownloadPermille(5000, 4000, 0), 1000U);
}

} // namespace
} // namespace Orv

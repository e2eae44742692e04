#include "core/text.h"
#include "ui/progress_display.h"
#include "ui/ui_state.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace Orv {
namespace {

constexpr uint64_t kMiB = 1048576;
constexpr uint64_t kGiB = 1073741824;

// Every test starts in English and leaves the launcher in English.
class ProgressText : public ::testing::Test {
protected:
    void SetUp() override { SetTurkish(false); }
    void TearDown() override { SetTurkish(false); }
};

TEST_F(ProgressText, TimeLeftRoundsUpInSecondsMinutesAndHours) {
    struct Row {
        uint64_t remaining;
        double speed;
        const wchar_t* text;
    };
    const Row rows[] = {
        {10000, 1000.0, L" · left ~11 s"},
        {0, 1.0, L" · left ~1 s"},
        {0, 5000.0, L" · left ~1 s"},
        {2500, 1000.0, L" · left ~3 s"},
        {59, 1.0, L" · left ~60 s"},
        {60, 1.0, L" · left ~1 min"},
        {61, 1.0, L" · left ~2 min"},
        {600 * kMiB, static_cast<double>(kMiB), L" · left ~10 min"},
        {3599, 1.0, L" · left ~60 min"},
        {3600, 1.0, L" · left ~1 h 0 min"},
        {5000, 1.0, L" · left ~1 h 23 min"},
        {5000 * 2 * kMiB, 2.0 * kMiB, L" · left ~1 h 23 min"},
        {100 * 3600 + 59 * 60 + 59, 1.0, L" · left ~100 h 59 min"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(TimeLeftText(row.remaining, row.speed), row.text) << row.remaining << " at " << row.speed;
    }
}

TEST_F(ProgressText, TimeLeftIsEmptyBelowOneBytePerSecond) {
    EXPECT_EQ(TimeLeftText(1000, 0.0), L"");
    EXPECT_EQ(TimeLeftText(1000, 0.999), L"");
    EXPECT_EQ(TimeLeftText(0, 0.5), L"");
    EXPECT_EQ(TimeLeftText(1, 1.0), L" · left ~2 s");
}

TEST_F(ProgressText, TimeLeftInTurkish) {
    SetTurkish(true);
    EXPECT_EQ(TimeLeftText(5000, 1.0), L" · kalan ~1 sa 23 dk");
    EXPECT_EQ(TimeLeftText(10, 1.0), L" · kalan ~11 sn");
    EXPECT_EQ(TimeLeftText(600, 1.0), L" · kalan ~10 dk");
}

TEST_F(ProgressText, DownloadDetailShowsSizesSpeedTimeAndFiles) {
    // 1.25 GiB of 5.30 GiB at 2.3 MiB/s: 4.05 GiB left take 1803 s, about 31 minutes.
    EXPECT_EQ(DownloadDetailText(1342177280, 5690831667, 2411724.8, 12, 340),
              L"1.25 GB / 5.30 GB  ·  2.3 MB/s · left ~31 min  ·  12 / 340 files");
    // No speed yet: no time left.
    EXPECT_EQ(DownloadDetailText(0, kGiB, 0.0, 0, 3), L"0 B / 1.00 GB  ·  0 B/s  ·  0 / 3 files");
    // More done than announced: nothing remains.
    EXPECT_EQ(DownloadDetailText(2048, 1024, 500.0, 3, 3),
              L"2 KB / 1 KB  ·  500 B/s · left ~1 s  ·  3 / 3 files");

    SetTurkish(true);
    EXPECT_EQ(DownloadDetailText(1342177280, 5690831667, 2411724.8, 12, 340),
              L"1.25 GB / 5.30 GB  ·  2.3 MB/s · kalan ~31 dk  ·  12 / 340 dosya");
}

TEST_F(ProgressText, CheckDetailCountsFiles) {
    EXPECT_EQ(CheckDetailText(120, 5000), L"120 / 5000 files");
    EXPECT_EQ(CheckDetailText(0, 0), L"0 / 0 files");
    SetTurkish(true);
    EXPECT_EQ(CheckDetailText(120, 5000), L"120 / 5000 dosya");
}

TEST_F(ProgressText, VersionLineNamesVersionAndRelease) {
    EXPECT_EQ(VersionLineText(L"1.0.3", 42), L"Version 1.0.3  ·  release 42");
    EXPECT_EQ(VersionLineText(L"1.0.3", 0), L"");
    EXPECT_EQ(VersionLineText(L"", 0), L"");
    SetTurkish(true);
    EXPECT_EQ(VersionLineText(L"1.0.3", 42), L"Sürüm 1.0.3  ·  yayın 42");
    EXPECT_EQ(VersionLineText(L"1.0.3", 0), L"");
}

TEST_F(ProgressText, RowShowsNameSizeAndWholePercent) {
    const uint64_t total = 120 * kMiB;
    EXPECT_EQ(RowText(L"data\\big.pak", total, total * 45 / 100), L"data\\big.pak  (120.0 MB, %45)");
    EXPECT_EQ(RowText(L"data\\big.pak", total, total * 459 / 1000), L"data\\big.pak  (120.0 MB, %45)");
    EXPECT_EQ(RowText(L"data\\big.pak", total, 0), L"data\\big.pak  (120.0 MB, %0)");
    EXPECT_EQ(RowText(L"data\\big.pak", total, total), L"data\\big.pak  (120.0 MB, %100)");
    EXPECT_EQ(RowText(L"x", 0, 0), L"x  (0 B, %100)");
    // Percent of a file above 4 GiB without overflow.
    EXPECT_EQ(RowText(L"y", 6 * kGiB, 3 * kGiB), L"y  (6.00 GB, %50)");
}

TEST(SampleSpeed, MeasuresOncePerSecondAndSmooths) {
    SpeedSampler sampler;
    sampler.speed = 123.0;
    // The first sample only records where the run stands.
    SampleSpeed(sampler, 5000, 10000);
    EXPECT_DOUBLE_EQ(sampler.speed, 123.0);
    sampler.speed = 0.0;

    // Within the second since the last sample nothing changes, not even the remembered bytes.
    SampleSpeed(sampler, 6000, 10999);
    EXPECT_DOUBLE_EQ(sampler.speed, 0.0);

    // The first measured second sets the speed to its own rate: 2000 bytes in 1 s.
    SampleSpeed(sampler, 7000, 11000);
    EXPECT_DOUBLE_EQ(sampler.speed, 2000.0);

    // Later ones keep 0.7 of the old speed: 8000 bytes in 2 s is 4000 B/s, smoothed to 2600.
    SampleSpeed(sampler, 15000, 13000);
    EXPECT_DOUBLE_EQ(sampler.speed, 2600.0);

    // No growth counts as no bytes, and so does going backwards.
    SampleSpeed(sampler, 15000, 14000);
    EXPECT_DOUBLE_EQ(sampler.speed, 1820.0);
    SampleSpeed(sampler, 10000, 15000);
    EXPECT_DOUBLE_EQ(sampler.speed, 1274.0);

    // From the lower count on the rate counts again: 3000 bytes in 1.5 s.
    SampleSpeed(sampler, 13000, 16500);
    EXPECT_DOUBLE_EQ(sampler.speed, 0.7 * 1274.0 + 0.3 * 2000.0);
}

TEST(SampleSpeed, ResetStartsTheNextRunFromNoSpeed) {
    UiState& ui = Ui();
    ui.sampler = SpeedSampler{};
    ui.failureShown = true;
    SampleSpeed(ui.sampler, 1000, 20000);
    SampleSpeed(ui.sampler, 6000, 21000);
    ASSERT_DOUBLE_EQ(ui.sampler.speed, 5000.0);

    ResetProgressDisplay();
    EXPECT_FALSE(ui.failureShown);
    EXPECT_DOUBLE_EQ(ui.sampler.speed, 0.0);

    // The new run's first sample is not measured against the old run's last one.
    SampleSpeed(ui.sampler, 50000, 25000);
    EXPECT_DOUBLE_EQ(ui.sampler.speed, 0.0);
    SampleSpeed(ui.sampler, 53000, 26000);
    EXPECT_DOUBLE_EQ(ui.sampler.speed, 3000.0);
    ui.sampler = SpeedSampler{};
}

class Busiest : public ::testing::Test {
protected:
    void Start(size_t slot, uint64_t total) {
        progress.slots[slot].total = total;
        progress.slots[slot].active = true;
    }
    std::vector<size_t> Order() const {
        std::vector<size_t> order;
        for (const SlotView& view : BusiestSlots(progress)) {
            order.push_back(view.index);
        }
        return order;
    }
    UpdateProgress progress;
};

TEST_F(Busiest, NothingActiveGivesNoRows) {
    progress.slots[0].total = 500;
    EXPECT_TRUE(BusiestSlots(progress).empty());
}

TEST_F(Busiest, ActiveSlotsLargestFirstWithTiesInSlotOrder) {
    progress.slots[0].total = 900; // finished, no longer active
    Start(2, 100);
    Start(5, 500);
    Start(7, 100);
    Start(9, 300);
    EXPECT_EQ(Order(), (std::vector<size_t>{5, 9, 2, 7}));
}

TEST_F(Busiest, MoreThanFourActiveAreAllReturned) {
    const uint64_t totals[] = {10, 70, 30, 70, 5 * kGiB, 0, 20, 40};
    for (size_t slot = 0; slot < std::size(totals); ++slot) {
        Start(slot + 4, totals[slot]);
    }
    EXPECT_EQ(Order(), (std::vector<size_t>{8, 5, 7, 11, 6, 10, 4, 9}));
}

TEST_F(Busiest, RowsAreOneReadingOfSlotsThatWorkersKeepRewriting) {
    for (size_t slot = 0; slot < kDownloadWorkers; ++slot) {
        Start(slot, slot);
    }
    std::jthread worker([&](std::stop_token stop) {
        for (uint64_t round = 0; !stop.stop_requested(); ++round) {
            for (size_t slot = 0; slot < kDownloadWorkers; ++slot) {
                // A worker moving to its next file: inactive, a new total, active again.
                progress.slots[slot].active = false;
                progress.slots[slot].total = (round * 7 + slot * 5) % 13 * kGiB;
                progress.slots[slot].active = true;
            }
        }
    });
    for (int reading = 0; reading < 20000; ++reading) {
        const std::vector<SlotView> rows = BusiestSlots(progress);
        ASSERT_LE(rows.size(), kDownloadWorkers);
        for (size_t i = 1; i < rows.size(); ++i) {
            ASSERT_GE(rows[i - 1].total, rows[i].total);
            if (rows[i - 1].total == rows[i].total) {
                ASSERT_LT(rows[i - 1].index, rows[i].index);
            }
        }
    }
}

} // namespace
} // namespace Orv

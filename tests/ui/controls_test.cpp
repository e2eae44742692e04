#include "ui/controls.h"

#include <gtest/gtest.h>

namespace Orv {
namespace {

constexpr uint64_t kGiB = 1073741824;

TEST(BarPosition, IsThousandthsOfTheTotalCappedAtTheEnd) {
    struct Row {
        uint64_t done;
        uint64_t total;
        int position;
    };
    const Row rows[] = {
        {0, 0, 0},
        {5, 0, 0},
        {0, 10, 0},
        {1, 3, 333},
        {2, 3, 666},
        {999, 1000, 999},
        {10, 10, 1000},
        {11, 10, 1000},
        {5 * kGiB, 10 * kGiB, 500},
        {10 * kGiB - 1, 10 * kGiB, 999},
        {3 * kGiB, 4 * kGiB, 750},
        {4 * kGiB + 1, 4 * kGiB, 1000},
        {1, 5 * kGiB, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(BarPosition(row.done, row.total), row.position) << row.done << " of " << row.total;
    }
}

} // namespace
} // namespace Orv

#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace Orv::Publisher {

// Receives one finished line of output (without a line end).
using LineSink = std::function<void(const std::wstring&)>;

// "3 s", "2 min 05 s", "1 h 04 min".
std::wstring DurationText(uint64_t seconds);

// The speed so far and the time left at that speed, for `done` of `total` bytes after `elapsedMs`:
// ", 4.5 MB/s, 12 s left" (without the time left once all is done); empty while nothing is measured.
std::wstring RateText(uint64_t done, uint64_t total, uint64_t elapsedMs);

// Counts items and bytes done from any thread and reports them as a line at most once a second,
// and once more at Finish: "<verb> 12/340 <things>, 1.2 MB of 35.0 MB, 4.5 MB/s, 7 s left".
class ProgressMeter {
public:
    ProgressMeter(std::wstring verb, std::wstring things, uint64_t totalItems, uint64_t totalBytes,
                  LineSink say);
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    void AddBytes(uint64_t bytes) { bytes_ += bytes; }
    void AddItem() { ++items_; }
    // Stops the periodic lines and reports the final counts.
    void Finish();

private:
    std::wstring Line() const;
    void Tick(std::stop_token stop);

    const std::wstring verb_;
    const std::wstring things_;
    const uint64_t totalItems_;
    const uint64_t totalBytes_;
    const LineSink say_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::atomic<uint64_t> items_{0};
    std::atomic<uint64_t> bytes_{0};
    std::mutex lock_;
    std::condition_variable_any wake_;
    std::wstring lastLine_;
    std::jthread ticker_; // last: it ends before the members it reads
};

} // namespace Orv::Publisher

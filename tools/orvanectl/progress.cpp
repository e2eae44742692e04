#include "orvanectl/progress.h"

#include "core/text.h"

#include <fmt/xchar.h>

#include <chrono>

namespace Orv::Publisher {

std::wstring DurationText(uint64_t seconds) {
    if (seconds < 60) {
        return fmt::format(L"{} s", seconds);
    }
    if (seconds < 3600) {
        return fmt::format(L"{} min {:02} s", seconds / 60, seconds % 60);
    }
    return fmt::format(L"{} h {:02} min", seconds / 3600, seconds / 60 % 60);
}

std::wstring RateText(uint64_t done, uint64_t total, uint64_t elapsedMs) {
    if (done == 0 || elapsedMs == 0) {
        return {};
    }
    const double perSecond = static_cast<double>(done) * 1000.0 / static_cast<double>(elapsedMs);
    std::wstring text = fmt::format(L", {}/s", SizeText(static_cast<uint64_t>(perSecond)));
    if (done < total) {
        const auto left = static_cast<uint64_t>(static_cast<double>(total - done) / perSecond + 0.5);
        text += fmt::format(L", {} left", DurationText(left));
    }
    return text;
}

ProgressMeter::ProgressMeter(std::wstring verb, std::wstring things, uint64_t totalItems, uint64_t totalBytes,
                             LineSink say)
    : verb_(std::move(verb)), things_(std::move(things)), totalItems_(totalItems), totalBytes_(totalBytes),
      say_(std::move(say)), ticker_([this](std::stop_token stop) { Tick(stop); }) {}

ProgressMeter::~ProgressMeter() {
    ticker_.request_stop();
}

void ProgressMeter::Finish() {
    ticker_.request_stop();
    if (ticker_.joinable()) {
        ticker_.join();
    }
    say_(Line());
}

std::wstring ProgressMeter::Line() const {
    const uint64_t bytes = bytes_.load();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
            .count();
    return fmt::format(L"{} {}/{} {}, {} of {}{}", verb_, items_.load(), totalItems_, things_,
                       SizeText(bytes), SizeText(totalBytes_),
                       RateText(bytes, totalBytes_, static_cast<uint64_t>(elapsed)));
}

void ProgressMeter::Tick(std::stop_token stop) {
    std::unique_lock lock(lock_);
    for (;;) {
        wake_.wait_for(lock, stop, std::chrono::seconds(1), [] { return false; });
        if (stop.stop_requested()) {
            return;
        }
        std::wstring line = Line();
        if (line != lastLine_) {
            say_(line);
            lastLine_ = std::move(line);
        }
    }
}

} // namespace Orv::Publisher

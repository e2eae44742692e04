#include "orvanectl/progress.h"

#include "core/text.h"

#include <fmt/xchar.h>

#include <chrono>

namespace Orv::Publisher {

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
    return fmt::format(L"{} {}/{} {}, {} of {}", verb_, items_.load(), totalItems_, things_,
                       SizeText(bytes_.load()), SizeText(totalBytes_));
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

#include "orvanectl/work_queue.h"

#include "core/text.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace Orv::Publisher {

unsigned WorkerCount() {
    const unsigned processors = std::thread::hardware_concurrency();
    return processors < 2 ? 2 : processors;
}

Outcome<Ok> RunOnWorkers(size_t count, unsigned workers,
                         const std::function<Outcome<Ok>(size_t index, std::stop_token stop)>& work,
                         std::stop_token cancel) {
    std::atomic<size_t> next{0};
    std::stop_source stop;
    const std::stop_callback cancelled(cancel, [&] { stop.request_stop(); });
    std::mutex failureLock;
    std::optional<std::wstring> failure;
    {
        std::vector<std::jthread> threads;
        const size_t wanted = count < workers ? count : workers;
        for (size_t t = 0; t < wanted; ++t) {
            threads.emplace_back([&] {
                const std::stop_token token = stop.get_token();
                while (!token.stop_requested()) {
                    const size_t index = next++;
                    if (index >= count) {
                        return;
                    }
                    auto done = work(index, token);
                    if (!done) {
                        const std::lock_guard lock(failureLock);
                        if (!failure) {
                            failure = std::move(done.message);
                        }
                        stop.request_stop();
                    }
                }
            });
        }
    } // the threads end here
    if (failure) {
        return Failure(std::move(*failure));
    }
    if (cancel.stop_requested()) {
        return Failure(CancelledText());
    }
    return Success();
}

} // namespace Orv::Publisher

#pragma once
#include <stop_token>

namespace Orv::Publisher {

// The exit code of a command that Ctrl+C or Ctrl+Break stopped, as shells give an interrupted program.
inline constexpr int kExitInterrupted = 130;

// While it lives, Ctrl+C and Ctrl+Break do not end the process but ask Token() to stop, so that the
// command stops its workers and leaves the mirror or the game folder consistent. One at a time.
class InterruptScope {
public:
    InterruptScope();
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

    std::stop_token Token() const { return stop_.get_token(); }
    bool Interrupted() const { return stop_.stop_requested(); }

private:
    std::stop_source stop_;
};

} // namespace Orv::Publisher

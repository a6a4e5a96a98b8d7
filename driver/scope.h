// The one cleanup idiom of the driver: a deferred action that runs when the
// scope ends, so every early return releases what was taken before it.
#pragma once

#include <utility>

template <typename F>
class Defer {
public:
    explicit Defer(F f) : f_(std::move(f)) {}
    ~Defer() { if (armed_) f_(); }
    Defer(const Defer &) = delete;
    Defer &operator=(const Defer &) = delete;
    // Keeps what the action would release (ownership passed on).
    void dismiss() { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

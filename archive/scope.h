// The one way out of a failing function: each resource taken gets a guard
// right where it is taken, so that every early `return -1` gives it back.
#pragma once

#include <utility>

template <class Release>
class ScopeExit {
public:
    explicit ScopeExit(Release release) : release_(std::move(release)) {}
    ~ScopeExit() { run(); }
    ScopeExit(const ScopeExit &) = delete;
    ScopeExit &operator=(const ScopeExit &) = delete;

    // Releases now (for an order that matters), never again.
    void run()
    {
        if (armed_) {
            armed_ = false;
            release_();
        }
    }
    // The resource changed hands: nothing to release.
    void dismiss() { armed_ = false; }

private:
    Release release_;
    bool armed_ = true;
};

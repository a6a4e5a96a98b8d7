// Runs a clean-up when the scope ends, unless dismissed: every early return
// of a failing function releases what it took. Shared by every layer.
#pragma once

template <class F>
class ScopeGuard {
public:
    explicit ScopeGuard(F f) : f_(f) {}
    ~ScopeGuard()
    {
        if (active_) f_();
    }
    ScopeGuard(const ScopeGuard &) = delete;
    ScopeGuard &operator=(const ScopeGuard &) = delete;
    void dismiss() { active_ = false; }

private:
    F f_;
    bool active_ = true;
};

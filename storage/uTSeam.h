#pragma once
// A replaceable function shared by threads: the one shape of every test seam. A test sets it
// (an empty function restores the real behaviour); the code takes a copy under the lock and
// calls it outside, so a handler may set the seam again. A value a test may change (a pause, an
// address) is held the same way, with its real value given at construction.
#include <mutex>
#include <utility>

template <typename Fn> class TSeam {
public:
    TSeam() = default;
    explicit TSeam(Fn initial) : FFn(std::move(initial)) {}
    void Set(Fn fn)
    {
        std::lock_guard<std::mutex> guard(FLock);
        FFn = std::move(fn);
    }
    Fn Get() const
    {
        std::lock_guard<std::mutex> guard(FLock);
        return FFn;
    }

private:
    mutable std::mutex FLock;
    Fn FFn;
};

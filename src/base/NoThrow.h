// No exception leaves a public function of the library: a host that calls a
// function answering int does not expect one. What OpenCV or the allocator throws
// (out of memory, mostly) becomes the function's answer for a bad input.
#ifndef ZRFISHEYE_BASE_NOTHROW_H
#define ZRFISHEYE_BASE_NOTHROW_H

#include <type_traits>
#include <utility>

namespace zrbase {

// fn's result, or failed when fn throws.
template <class R, class Fn>
R AnswerOr(R failed, Fn&& fn) noexcept
{
    try {
        return std::forward<Fn>(fn)();
    } catch (...) {
        return failed;
    }
}

// Runs fn; a throw ends it quietly.
template <class Fn>
void IgnoringFailure(Fn&& fn) noexcept
{
    try {
        std::forward<Fn>(fn)();
    } catch (...) {
    }
}

// fn's result; when fn throws, undo runs (itself guarded) to put back what fn had
// changed, and the answer is failed.
template <class R, class Fn, class Undo>
R AnswerOrUndo(R failed, Fn&& fn, Undo&& undo) noexcept
{
    try {
        return std::forward<Fn>(fn)();
    } catch (...) {
        IgnoringFailure(std::forward<Undo>(undo));
        return failed;
    }
}

}  // namespace zrbase

#endif

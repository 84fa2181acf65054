// Seams a test sets for its own run and that are set back when it ends, however it ends.
#pragma once

#include <type_traits>
#include <utility>

namespace pvtest {
// A seam set through its setter (SetPrompts, SetClock, SetRasLoader ...): set to value at
// construction and back to previous (nullptr unless given) at the end.
template <class T> class TScopedSeam {
public:
    TScopedSeam(void (*set)(T), std::type_identity_t<T> value,
                std::type_identity_t<T> previous = {})
        : FSet(set), FPrevious(std::move(previous)) {
        FSet(std::move(value));
    }
    ~TScopedSeam() { FSet(std::move(FPrevious)); }
    TScopedSeam(const TScopedSeam&) = delete;
    TScopedSeam& operator=(const TScopedSeam&) = delete;

private:
    void (*FSet)(T);
    T FPrevious;
};

// An assignable seam (a static hook, a flag): value until the end, then what it held before.
template <class T> class TScopedValue {
public:
    TScopedValue(T& target, std::type_identity_t<T> value)
        : FTarget(target), FPrevious(std::exchange(target, std::move(value))) {}
    ~TScopedValue() { FTarget = std::move(FPrevious); }
    TScopedValue(const TScopedValue&) = delete;
    TScopedValue& operator=(const TScopedValue&) = delete;

private:
    T& FTarget;
    T FPrevious;
};
} // namespace pvtest

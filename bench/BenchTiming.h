// Timing for the benchmarks: a high-resolution clock and the usual ways of
// keeping a busy machine out of the figures.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

namespace bench {

// Seconds on the performance counter.
inline double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The fastest of a few runs, in seconds: the least disturbed by the machine.
template <class F>
double Best(int runs, F&& fn) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        double start = Now();
        fn();
        best = std::min(best, Now() - start);
    }
    return best;
}

// Seconds per run, over one batch of runs.
template <class F>
double Time(int repeat, F&& fn) {
    double start = Now();
    for (int i = 0; i < repeat; ++i) fn();
    return (Now() - start) / repeat;
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace bench

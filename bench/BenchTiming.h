// Timing for the benchmarks: a high-resolution clock, the usual ways of
// keeping a busy machine out of the figures, and one way of reporting a
// ratio: each run measures its cost and its baseline, and the median of the
// runs' ratios is what is checked, with their minimum and maximum beside it
// to show how far a single run can stray.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace bench {

// Fewest runs behind a reported ratio.
constexpr int kRuns = 7;

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

// Seconds one call of fn takes.
template <class F>
double Once(F&& fn) {
    const double start = Now();
    fn();
    return Now() - start;
}

// The fastest of a few runs, in seconds: the least disturbed by the machine.
template <class F>
double Best(int runs, F&& fn) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) best = std::min(best, Once(fn));
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
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Spread {
    double median = NAN, min = NAN, max = NAN;
    int runs = 0;
};

inline Spread SpreadOf(const std::vector<double>& v) {
    Spread s;
    s.runs = static_cast<int>(v.size());
    if (v.empty()) return s;
    s.median = Median(v);
    s.min = *std::min_element(v.begin(), v.end());
    s.max = *std::max_element(v.begin(), v.end());
    return s;
}

// A cost and its baseline, each measured once per run in the same run.
struct Runs {
    std::vector<double> cost, base;

    void Add(double c, double b) {
        cost.push_back(c);
        base.push_back(b);
    }
    double Cost() const { return Median(cost); }
    double Base() const { return Median(base); }
    // Of cost / base, run by run.
    Spread Ratio() const {
        std::vector<double> r;
        for (size_t i = 0; i < cost.size(); ++i) r.push_back(cost[i] / base[i]);
        return SpreadOf(r);
    }
    // Of cost - base, run by run.
    Spread Difference() const {
        std::vector<double> d;
        for (size_t i = 0; i < cost.size(); ++i) d.push_back(cost[i] - base[i]);
        return SpreadOf(d);
    }
};

// runs runs of run, which returns {cost, baseline} of one run.
template <class F>
Runs Measure(int runs, F&& run) {
    Runs r;
    for (int i = 0; i < runs; ++i) {
        const std::pair<double, double> one = run(i);
        r.Add(one.first, one.second);
    }
    return r;
}

enum class Bound { AtMost, AtLeast };

// Prints the ratio's median, minimum and maximum and, given a bound,
// whether the median meets it; a bounded ratio also gets a line for
// scripts/bench.sh's table:
//   RATIO <name> <median> <min> <max> <runs> <= | >= <bound> met | NOT-met
// Returns whether the bound is met (true without one).
inline bool Report(const char* name, const char* what, const Spread& s, double bound = NAN,
                   Bound kind = Bound::AtMost) {
    std::printf("  %s: median %.4g (min %.4g, max %.4g, %d runs)", what, s.median, s.min, s.max,
                s.runs);
    if (std::isnan(bound)) {
        std::printf("\n");
        std::fflush(stdout);
        return true;
    }
    const bool atMost = kind == Bound::AtMost;
    const bool met = s.runs > 0 && (atMost ? s.median <= bound : s.median >= bound);
    std::printf("; bound %s %.4g: %s\n", atMost ? "<=" : ">=", bound, met ? "met" : "NOT met");
    std::printf("RATIO %s %.6g %.6g %.6g %d %s %.6g %s\n", name, s.median, s.min, s.max, s.runs,
                atMost ? "<=" : ">=", bound, met ? "met" : "NOT-met");
    std::fflush(stdout);
    return met;
}

}  // namespace bench

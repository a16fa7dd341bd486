// What the benchmark programs share: milliseconds between two instants, the median of a run,
// and the "name value" line each figure is printed as.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace lumenvale::bench {

using Instant = std::chrono::steady_clock::time_point;

inline double ms(Instant from, Instant to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline void print(const char* name, double value) {
    std::printf("%s %.3f\n", name, value);
}

} // namespace lumenvale::bench

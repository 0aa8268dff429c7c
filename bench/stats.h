// Order statistics of a set of timings.
#pragma once

#include <cstddef>
#include <vector>

namespace qk42rt::bench {

struct Summary {
    std::size_t count = 0;
    double min = 0.0;
    double median = 0.0;
    double p99 = 0.0;
    double max = 0.0;
};

// Nearest-rank percentiles; an empty set gives all zeros.
Summary summarize(std::vector<double> samples);

}  // namespace qk42rt::bench

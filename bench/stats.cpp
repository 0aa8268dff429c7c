#include "stats.h"

#include <algorithm>
#include <cmath>

namespace qk42rt::bench {
namespace {

double nearest_rank(const std::vector<double>& sorted, double fraction) {
    const auto rank =
        static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

}  // namespace

Summary summarize(std::vector<double> samples) {
    Summary summary;
    if (samples.empty()) return summary;
    std::sort(samples.begin(), samples.end());
    summary.count = samples.size();
    summary.min = samples.front();
    summary.max = samples.back();
    summary.median = nearest_rank(samples, 0.5);
    summary.p99 = nearest_rank(samples, 0.99);
    return summary;
}

}  // namespace qk42rt::bench

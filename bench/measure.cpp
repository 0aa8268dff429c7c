#include "measure.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <thread>

namespace qk42rt::bench {

bool wait_until(double seconds, const std::function<bool()>& done) {
    for (const double give_up = wall_us() + seconds * 1e6; !done();) {
        if (wall_us() > give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<Samples> take_turns(const std::vector<Turn>& turns, int calls) {
    constexpr int kBlock = 10;
    std::vector<Samples> samples(turns.size());
    for (std::size_t c = 0; c < turns.size(); ++c) {
        Samples warm_up;  // caches, page tables, interpreters, connections; not counted
        turns[c](20, warm_up);
        samples[c].wall_us.reserve(static_cast<std::size_t>(calls + kBlock));
    }
    std::vector<std::vector<std::size_t>> orders;
    std::vector<std::size_t> order(turns.size());
    std::iota(order.begin(), order.end(), 0);
    do {
        orders.push_back(order);
    } while (std::next_permutation(order.begin(), order.end()));
    for (int round = 0; round * kBlock < calls; ++round) {
        for (const std::size_t c : orders[static_cast<std::size_t>(round) % orders.size()]) {
            turns[c](kBlock, samples[c]);
        }
    }
    return samples;
}

Summary summarize(std::vector<double> samples) {
    Summary summary;
    if (samples.empty()) return summary;
    std::sort(samples.begin(), samples.end());
    const auto rank = [&](double fraction) {
        const auto r = static_cast<std::size_t>(std::ceil(fraction * samples.size()));
        return samples[std::clamp<std::size_t>(r, 1, samples.size()) - 1];
    };
    summary.count = samples.size();
    summary.min = samples.front();
    summary.max = samples.back();
    summary.median = rank(0.5);
    summary.p99 = rank(0.99);
    return summary;
}

}  // namespace qk42rt::bench

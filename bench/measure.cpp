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
    std::vector<std::size_t> order(turns.size());
    std::iota(order.begin(), order.end(), 0);
    for (int done = 0; done < calls; done += kBlock) {
        for (const std::size_t c : order) turns[c](kBlock, samples[c]);
        std::next_permutation(order.begin(), order.end());  // after the last, the first again
    }
    return samples;
}

Summary summarize(std::vector<double> samples) {
    if (samples.empty()) return {};
    std::sort(samples.begin(), samples.end());
    const auto rank = [&](double fraction) {
        const auto r = static_cast<std::size_t>(std::ceil(fraction * samples.size()));
        return samples[std::clamp<std::size_t>(r, 1, samples.size()) - 1];
    };
    return {samples.size(), samples.front(), rank(0.5), rank(0.99), samples.back()};
}

}  // namespace qk42rt::bench

#include "contest.h"

namespace qk42rt::bench {

void library_block(const Operation& op, int count, Samples& out) {
    const double cpu_start = cpu_us();
    for (int i = 0; i < count; ++i) {
        const double start = wall_us();
        const int result = op.call();
        out.wall_us.push_back(wall_us() - start);
        if (result != op.success) ++out.failures;
    }
    out.cpu_us += cpu_us() - cpu_start;
}

}  // namespace qk42rt::bench

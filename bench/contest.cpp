#include "contest.h"

#include <sstream>
#include <stdexcept>

#include "child_process.h"

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

void client_block(ChildProcess& client, const std::string& operation, int count, Samples& out) {
    client.write_line("run " + operation + " " + std::to_string(count));
    std::istringstream answer(client.read_line(count * 600 + 30'000));
    std::string word;
    double cpu_ns = 0.0;
    std::size_t failures = 0;
    answer >> word >> cpu_ns >> failures;
    if (word != "done")
        throw std::runtime_error("Python client: unexpected answer to " + operation);
    out.cpu_us += cpu_ns / 1e3;
    out.failures += failures;
    double wall_ns = 0.0;
    while (answer >> wall_ns) out.wall_us.push_back(wall_ns / 1e3);
}

}  // namespace qk42rt::bench

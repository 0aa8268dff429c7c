#include "scripts.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace qk42rt::bench {

Script start_script(const std::string& python, const std::string& script, const std::string& kind,
                    const std::string& device, const std::vector<std::string>& env) {
    std::vector<std::string> words = env;
    words.insert(words.end(), {python, script, kind, device});
    try {
        auto child = std::make_unique<testing::ChildProcess>(
            "env", words, testing::ChildProcess::Pipes{.input = true, .capture_stderr = false});
        const auto answer = child->read_line(20'000);
        if (answer == "ready") return child;
        std::fprintf(stderr, "bench: the %s client said: %s\n", kind.c_str(),
                     answer.value_or("nothing").c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench: no %s client: %s\n", kind.c_str(), e.what());
    }
    return nullptr;
}

Turn script_turns(const Script& script, const std::string& words) {
    return [&script, words](int count, Samples& out) {
        if (!script) return;
        script->write_line("run " + std::to_string(count) + " " + words);
        std::istringstream answer(script->read_line(count * 600 + 30'000).value_or(""));
        std::string done;
        double cpu_ns = 0.0;
        std::size_t failures = 0;
        if (!(answer >> done >> cpu_ns >> failures) || done != "done") {
            throw std::runtime_error("a Python client did not answer run " + words);
        }
        out.cpu_us += cpu_ns / 1e3;
        out.failures += failures;
        for (double wall_ns = 0.0; answer >> wall_ns;) out.wall_us.push_back(wall_ns / 1e3);
    };
}

}  // namespace qk42rt::bench

#include "replay_book.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>

namespace qk42rt::sim {
namespace {

std::string key_of(std::span<const std::uint8_t> request) {
    return std::string(request.begin(), request.end());
}

}  // namespace

ReplayBook ReplayBook::load(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read the recording " + path);
    ReplayBook book;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        std::string error;
        const auto recorded = parse_record_line(line, error);
        if (!recorded) {
            throw std::runtime_error(path + ":" + std::to_string(number) +
                                     ": not a recorded exchange: " + error);
        }
        book.add(*recorded);
    }
    if (book.exchanges() == 0)
        throw std::runtime_error("the recording " + path + " holds no exchange");
    return book;
}

void ReplayBook::add(const Recorded& recorded) {
    queues_[key_of(recorded.request)].replies.push_back(recorded);
    ++exchanges_;
}

std::optional<Recorded> ReplayBook::next(std::span<const std::uint8_t> request) {
    const auto found = queues_.find(key_of(request));
    if (found == queues_.end()) return std::nullopt;
    Queue& queue = found->second;
    const Recorded& reply = queue.replies[queue.next];
    if (queue.next + 1 < queue.replies.size()) ++queue.next;
    return reply;
}

Answer replay_answer(ReplayBook& book, std::span<const std::uint8_t> request, bool timing) {
    Answer answer;
    const auto recorded = book.next(request);
    if (!recorded) {
        answer.note = "not in the recording: no reply";
        return answer;
    }
    if (recorded->reply.empty()) {
        answer.note = "recorded without a reply";
        return answer;
    }
    answer.bytes = recorded->reply;
    answer.note = "replayed";
    if (timing && recorded->latency_ms) {
        answer.delay_ms = static_cast<int>(std::lround(std::min(*recorded->latency_ms, 60'000.0)));
    }
    return answer;
}

}  // namespace qk42rt::sim

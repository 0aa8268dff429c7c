// Arbitrary bytes from a host, as the instrument's end of the line takes them: cut into
// requests by the framer (both ways it can treat bit-7 data), each parsed into a typed
// request. A request read as the library sends it must encode back to the very same bytes;
// any other must be named as such, never crash or read beyond the bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "protocol/request.h"
#include "protocol/request_framer.h"

namespace {

void check(std::span<const std::uint8_t> bytes) {
    using namespace qk42rt::protocol;
    const ParsedRequest parsed = parse_request(bytes);
    if (parsed.as_sent()) {
        const Request again = encode(*parsed.request);
        const auto view = again.view();
        if (view.size() != bytes.size() || !std::equal(view.begin(), view.end(), bytes.begin()))
            std::abort();
    } else if (parsed.problems.empty()) {
        std::abort();  // refused without saying why
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check(std::span(data, size));
    for (const bool bit7_data_as_sent : {false, true}) {
        qk42rt::protocol::RequestFramer framer(bit7_data_as_sent);
        for (std::size_t i = 0; i < size; ++i) {
            if (framer.feed(data[i])) check(framer.request());
        }
    }
    return 0;
}

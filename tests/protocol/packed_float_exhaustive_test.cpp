// Every one of the 2^32 float bit patterns packs to five bytes with bit 7 clear (the high-bit
// byte's bits 7..4 too) and unpacks to the same bits. Seconds in an optimized build; its own
// program, labelled "exhaustive", so that slower builds can leave it out.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <thread>
#include <vector>

#include "protocol/frame.h"

namespace qk42rt::protocol {
namespace {

// The first failing pattern in [first, last], or none.
std::optional<std::uint32_t> first_failure(std::uint32_t first, std::uint32_t last) {
    for (std::uint64_t bits = first; bits <= last; ++bits) {
        const auto value = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
        const auto packed = packed_float(value);
        bool ok = packed[0] <= 0x0F;
        for (std::size_t i = 1; i < packed.size(); ++i) ok = ok && packed[i] < 0x80;
        ok = ok && std::bit_cast<std::uint32_t>(unpacked_float(packed)) == bits;
        if (!ok) return static_cast<std::uint32_t>(bits);
    }
    return std::nullopt;
}

TEST(PackedFloatExhaustive, EveryBitPatternPacksSevenBitCleanAndComesBack) {
    const unsigned workers = std::max(2u, std::thread::hardware_concurrency());
    std::vector<std::optional<std::uint32_t>> failures(workers);
    std::vector<std::thread> threads;
    const std::uint64_t share = (std::uint64_t{1} << 32) / workers;
    for (unsigned w = 0; w < workers; ++w) {
        const auto first = static_cast<std::uint32_t>(share * w);
        const auto last =
            w + 1 == workers ? UINT32_MAX : static_cast<std::uint32_t>(share * (w + 1) - 1);
        threads.emplace_back(
            [&failures, w, first, last] { failures[w] = first_failure(first, last); });
    }
    for (std::thread& thread : threads) thread.join();
    for (const auto& failure : failures) {
        EXPECT_FALSE(failure.has_value()) << "bit pattern 0x" << std::hex << *failure;
    }
}

}  // namespace
}  // namespace qk42rt::protocol

// What arrives from the network, in any bytes at all: the Telnet layer of an RFC 2217 line
// (a server's byte stream, cut into reads anywhere) and device strings as users type them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "port/device_string.h"
#include "port/telnet_codec.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// The stream decodes to the same data however it is cut; data never grows; every answer is a
// whole IAC <verb> <option> triple.
void telnet(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    const std::size_t piece = data[0] % 7 + 1;
    std::vector<std::uint8_t> whole(data + 1, data + size);
    std::vector<std::uint8_t> cut = whole;
    qk42rt::telnet::Decoder at_once;
    const std::size_t kept = at_once.decode(whole);
    check(kept <= whole.size());
    qk42rt::telnet::Decoder in_pieces;
    std::vector<std::uint8_t> data_in_pieces;
    for (std::size_t at = 0; at < cut.size(); at += piece) {
        std::span<std::uint8_t> part(cut.data() + at, std::min(piece, cut.size() - at));
        const std::size_t got = in_pieces.decode(part);
        data_in_pieces.insert(data_in_pieces.end(), part.begin(),
                              part.begin() + static_cast<long>(got));
    }
    check(std::vector<std::uint8_t>(whole.begin(), whole.begin() + static_cast<long>(kept)) ==
          data_in_pieces);
    const auto answers = at_once.take_answers();
    check(answers.size() % 3 == 0);
    for (std::size_t i = 0; i < answers.size(); i += 3) {
        check(answers[i] == qk42rt::telnet::kIac);
        check(answers[i + 1] >= qk42rt::telnet::kWill && answers[i + 1] <= qk42rt::telnet::kDont);
    }
    // Escaped data decodes back to itself.
    std::vector<std::uint8_t> escaped;
    qk42rt::telnet::escape(std::span(data + 1, size - 1), escaped);
    qk42rt::telnet::Decoder round_trip;
    check(round_trip.decode(escaped) == size - 1);
    check(std::equal(escaped.begin(), escaped.begin() + static_cast<long>(size - 1), data + 1));
}

// A parsed device string reads back the same from its own text.
void device_string(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto parsed = qk42rt::parse_device_string(text);
    const auto* device = std::get_if<qk42rt::DeviceString>(&parsed);
    if (device == nullptr) {
        check(!std::get<qk42rt::DeviceStringError>(parsed).message.empty());
        return;
    }
    if (device->kind == qk42rt::DeviceString::Kind::path) {
        check(device->path == text);
        return;
    }
    check(device->port != 0);
    const std::string scheme =
        device->kind == qk42rt::DeviceString::Kind::tcp ? "tcp://" : "rfc2217://";
    const auto again =
        qk42rt::parse_device_string(scheme + qk42rt::host_port_text(device->host, device->port));
    const auto* same = std::get_if<qk42rt::DeviceString>(&again);
    check(same != nullptr && same->host == device->host && same->port == device->port &&
          same->kind == device->kind);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    telnet(data, size);
    device_string(data, size);
    return 0;
}

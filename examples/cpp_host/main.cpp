// A small C++ host: opens a port, prints the flow of all eight channels of one instrument.
//
//   qk42rt-cpp-host [PORT [ADDRESS]]    (PORT defaults to 1, ADDRESS to 1)
//
// Exits 0 when every call succeeded, 1 when one failed, 2 on a bad argument.
#include <qk42rt.h>

#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

namespace {

std::optional<int> parse_int(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return {};
    return value;
}

// Holds the port open and closes it on every way out of main.
class OpenPort {
  public:
    explicit OpenPort(int port) : open_(QK42RT_InitPort(port) != 0) {}
    ~OpenPort() {
        if (open_) QK42RT_ClosePort();
    }
    OpenPort(const OpenPort&) = delete;
    OpenPort& operator=(const OpenPort&) = delete;
    explicit operator bool() const { return open_; }

  private:
    bool open_;
};

}  // namespace

int main(int argc, char** argv) {
    std::optional<int> port = 1;
    std::optional<int> address = 1;
    if (argc > 1) port = parse_int(argv[1]);
    if (argc > 2) address = parse_int(argv[2]);
    if (argc > 3 || !port || !address) {
        std::fprintf(stderr, "usage: %s [PORT [ADDRESS]]\n", argv[0]);
        return 2;
    }

    OpenPort line(*port);
    if (!line) {
        std::fprintf(stderr, "%s: cannot open port %d\n", argv[0], *port);
        return 1;
    }
    int failed = 0;
    for (int channel = 1; channel <= 8; ++channel) {
        float flow = 0.0f;
        int status = 0;
        if (QK42RT_ReadFlow(*address, channel, &flow, &status)) {
            std::printf("channel %d: flow %g status %d\n", channel, flow, status);
        } else {
            std::fprintf(stderr, "%s: reading the flow of channel %d at address %d failed\n",
                         argv[0], channel, *address);
            failed = 1;
        }
    }
    return failed;
}

#include "sim_log.h"

#include <windows.h>

#include <string_view>

namespace qk42rt_wintest {
namespace {

constexpr std::string_view kHangupLine = "event: line hung up";

// The whole file as it stands; the simulator keeps writing it, so share everything.
std::string read_all(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    CloseHandle(file);
    return text;
}

}  // namespace

int SimLog::hangups() const {
    const std::string text = read_all(path_);
    int count = 0;
    for (std::size_t at = text.find(kHangupLine); at != std::string::npos;
         at = text.find(kHangupLine, at + kHangupLine.size())) {
        ++count;
    }
    return count;
}

bool SimLog::wait_for_hangups(int count, int timeout_ms) const {
    const double deadline = now_ms() + timeout_ms;
    while (hangups() < count) {
        if (now_ms() > deadline) return false;
        Sleep(20);
    }
    return true;
}

double now_ms() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

}  // namespace qk42rt_wintest

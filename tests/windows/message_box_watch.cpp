#include "message_box_watch.h"

#include "sim_log.h"

namespace qk42rt_wintest {
namespace {

// The control id of the message text in a standard message box.
constexpr int kMessageTextId = 0xFFFF;

}  // namespace

MessageBoxWatch::MessageBoxWatch(const char* title, int timeout_ms)
    : title_(title), timeout_ms_(timeout_ms) {
    thread_ = CreateThread(nullptr, 0, &MessageBoxWatch::run, this, 0, nullptr);
}

MessageBoxWatch::~MessageBoxWatch() {
    if (thread_ != nullptr) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
}

bool MessageBoxWatch::seen(std::string& text) {
    if (thread_ == nullptr) return false;
    WaitForSingleObject(thread_, INFINITE);
    text = text_;
    return found_;
}

DWORD WINAPI MessageBoxWatch::run(LPVOID self_pointer) {
    auto* self = static_cast<MessageBoxWatch*>(self_pointer);
    const double deadline = now_ms() + self->timeout_ms_;
    while (now_ms() < deadline) {
        if (const HWND box = FindWindowA("#32770", self->title_.c_str())) {
            char text[256] = {};
            GetDlgItemTextA(box, kMessageTextId, text, sizeof text);
            self->text_ = text;
            self->found_ = true;
            return 0;
        }
        Sleep(20);
    }
    return 0;
}

}  // namespace qk42rt_wintest

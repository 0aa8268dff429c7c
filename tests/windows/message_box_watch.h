// Watches, from a second thread, for the message box the library shows, and reads its text
// from the dialog itself; the box is left open for the user (or xdotool) to close.
#pragma once

#include <windows.h>

#include <string>

namespace qk42rt_wintest {

class MessageBoxWatch {
  public:
    // Starts looking for a top-level window captioned `title` for up to `timeout_ms`.
    MessageBoxWatch(const char* title, int timeout_ms);
    ~MessageBoxWatch();
    MessageBoxWatch(const MessageBoxWatch&) = delete;
    MessageBoxWatch& operator=(const MessageBoxWatch&) = delete;

    // Waits for the watch to end; true when the box was seen, with its message in `text`.
    bool seen(std::string& text);

  private:
    static DWORD WINAPI run(LPVOID self);

    std::string title_;
    int timeout_ms_;
    std::string text_;
    bool found_ = false;
    HANDLE thread_ = nullptr;
};

}  // namespace qk42rt_wintest

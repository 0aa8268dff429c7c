// The lock of one line: calls on a line take turns, calls on different lines do not wait for
// each other. One implementation per platform (std::mutex on POSIX, an SRWLOCK on Windows,
// where the DLL carries no thread library).
#pragma once

#include <memory>

namespace qk42rt::host {

class LineLock {
  public:
    LineLock();
    ~LineLock();
    LineLock(const LineLock&) = delete;
    LineLock& operator=(const LineLock&) = delete;

    void lock();
    void unlock();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace qk42rt::host

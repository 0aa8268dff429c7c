// The master side of a pseudo-terminal: the instrument's end of the line. Linux only; on
// Windows, where there are none, PtyMaster::open() says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qk42rt {

// Owns one file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    int release();

  private:
    int fd_ = -1;
};

class PtyMaster {
  public:
    // Opens a new master (non-blocking) and sets its slave to raw 8-bit mode once, so that a
    // host that never sets raw mode still gets the bytes unchanged. Throws std::system_error.
    static PtyMaster open();

    int fd() const { return fd_.get(); }
    const std::string& slave_path() const { return slave_path_; }

    // Writes every byte unless the line fails; the master is non-blocking, so a full
    // buffer is waited out. False when the bytes could not all be written.
    bool write_all(std::span<const std::uint8_t> bytes) const;

    // Reads what the host has written: the number of bytes, 0 when none is waiting, -1 when
    // the host has closed the line.
    std::ptrdiff_t read_some(std::span<std::uint8_t> buffer) const;

    // While no host holds the line, whether one has opened it since (data waiting counts,
    // even when that host has closed the line again). Looked at, not waited on: a master
    // reports a hang-up at once while no slave is open.
    bool host_has_opened() const;

  private:
    PtyMaster(UniqueFd fd, std::string slave_path)
        : fd_(std::move(fd)), slave_path_(std::move(slave_path)) {}

    UniqueFd fd_;
    std::string slave_path_;
};

}  // namespace qk42rt

#include "protocol/request_framer.h"

#include "protocol/command_table.h"

namespace qk42rt::protocol {

bool RequestFramer::feed(std::uint8_t byte) {
    const bool data_here = bit7_data_as_sent_ && expected_ != 0 &&
                           may_carry_bit7(code_of(partial_[0]), partial_.size());
    if ((byte & 0x80u) && !data_here) {
        drop_partial();
        expected_ = request_length(code_of(byte));
        partial_.push_back(byte);
    } else if (expected_ == 0) {
        ++dropped_;
        recent_drops_.push_back(byte);
        return false;
    } else {
        partial_.push_back(byte);
    }
    if (partial_.size() < expected_) return false;
    request_.swap(partial_);
    partial_.clear();
    expected_ = 0;
    return true;
}

std::vector<std::uint8_t> RequestFramer::take_dropped() {
    std::vector<std::uint8_t> drops;
    drops.swap(recent_drops_);
    return drops;
}

void RequestFramer::drop_partial() {
    dropped_ += partial_.size();
    recent_drops_.insert(recent_drops_.end(), partial_.begin(), partial_.end());
    partial_.clear();
    expected_ = 0;
}

}  // namespace qk42rt::protocol

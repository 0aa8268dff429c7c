// The operations the benchmark times: each as a call of the exported function and as the same
// bytes sent by hand, for instrument address 1 and channel 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "exported_calls.h"

namespace qk42rt::bench {

struct Operation {
    std::string name;                   // the exported function
    std::string python_name;            // what the Python client calls it
    std::vector<std::uint8_t> request;  // the request the function sends
    std::size_t reply_length;           // the reply it waits for
    int (*call)();                      // the exported function with fixed arguments
    int success;                        // its result when the instrument answers
};

// QK42RT_ReadFlow, QK42RT_SetSetpoint (1.0) and QK42RT_ReadVersion through `calls`.
std::vector<Operation> operations_calling(const ExportedCalls& calls);

// The same through the shared library's exported functions.
const std::vector<Operation>& timed_operations();

// The line's own time for an exchange: every request and reply byte at ten bits, 9600 bit/s.
double line_minimum_us(const Operation& op);

}  // namespace qk42rt::bench

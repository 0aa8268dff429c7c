// The device-server lines (tcp://, rfc2217://) under the exported functions. The shared library
// opens serial ports by number only, so these come from a module of the benchmark's own: the
// static core, the same code the shared library is built from plus the lines, with every
// symbol of it hidden so that its exported functions and held port stay apart from the shared
// library's.
#pragma once

#include <string>

#include "exported_calls.h"

#define QK42RT_BENCH_LINES_API __attribute__((visibility("default")))

namespace qk42rt::bench::lines {

// Opens `device` (any device string) and makes it the held port of the module's exported
// functions. Empty when it is held; otherwise why not.
QK42RT_BENCH_LINES_API std::string hold(const std::string& device);

// Closes the held port.
QK42RT_BENCH_LINES_API void release();

// The module's exported functions with the benchmark's fixed arguments.
QK42RT_BENCH_LINES_API ExportedCalls calls();

}  // namespace qk42rt::bench::lines

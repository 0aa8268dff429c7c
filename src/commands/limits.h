// What each argument may be, for the faces that refuse a bad one before anything is sent
// (libqk42, the client, the server). The legacy functions take any int and reduce it to its
// field; these are the values that arrive at the instrument as given.
#pragma once

namespace qk42rt::commands {

struct Limit {
    int low;
    int high;
    bool contains(long long value) const { return value >= low && value <= high; }
};

namespace limits {
inline constexpr Limit address{1, 8};
inline constexpr Limit channel{1, 8};
inline constexpr Limit unit{1, 4};
// The instrument keeps the maximum-flow code as the remainder by 5 and the ratio/total mode
// as the remainder by 3: only these arrive as given.
inline constexpr Limit maxflow_code{0, 4};
inline constexpr Limit ratio_mode{0, 2};
// Above 127 the integration control byte would look like the start of a request.
inline constexpr Limit control{0, 127};
inline constexpr Limit ratio_value{0, 255};
inline constexpr Limit state{0, 255};
}  // namespace limits

// A value a float holds as a finite number: setpoints and maximum flows.
bool finite_float(double value);

}  // namespace qk42rt::commands

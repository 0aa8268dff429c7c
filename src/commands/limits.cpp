#include "commands/limits.h"

#include <cfloat>
#include <cmath>

namespace qk42rt::commands {

bool finite_float(double value) {
    return std::isfinite(value) && std::fabs(value) <= FLT_MAX;
}

}  // namespace qk42rt::commands

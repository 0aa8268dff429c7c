// From the core's reasons to the host interface's status codes.
#pragma once

#include "protocol/outcome.h"
#include "qk42.h"

namespace qk42rt::host {

qk42_status status_of(Failure failure);

}  // namespace qk42rt::host

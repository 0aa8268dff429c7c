// A few lines of test bookkeeping for the Windows host programs: each check prints one line,
// failures are counted and decide the exit status.
#pragma once

#include <cstdio>

namespace qk42rt_wintest {

class Checks {
  public:
    // Records one check; `what` names it in the output.
    bool expect(bool ok, const char* what) {
        std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
        std::fflush(stdout);
        if (!ok) ++failures_;
        return ok;
    }
    int failures() const { return failures_; }
    int exit_status() const { return failures_ == 0 ? 0 : 1; }

  private:
    int failures_ = 0;
};

}  // namespace qk42rt_wintest

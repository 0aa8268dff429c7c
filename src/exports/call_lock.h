// One process-wide lock that serializes every exported call, so that two host threads never
// interleave their exchanges on the one port. One implementation per platform.
#pragma once

namespace qk42rt {

class CallLock {
  public:
    CallLock();
    ~CallLock();
    CallLock(const CallLock&) = delete;
    CallLock& operator=(const CallLock&) = delete;
};

}  // namespace qk42rt

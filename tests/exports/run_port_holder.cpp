#include <spawn.h>
#include <sys/wait.h>

#include "port_holder.h"

extern char** environ;

namespace qk42rt::testing {

int run_port_holder(const std::string& device) {
    std::string program = QK42RT_PORT_HOLDER;
    std::string library = QK42RT_SHARED_PATH;
    std::string line = device;
    char* argv[] = {program.data(), library.data(), line.data(), nullptr};
    pid_t child = -1;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
    int status = -1;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace qk42rt::testing

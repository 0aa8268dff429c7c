#include "machine.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <fstream>

namespace qk42rt::bench {

std::string describe_machine() {
    std::string model = "unknown CPU";
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("model name", 0) == 0) {
            const auto colon = line.find(':');
            if (colon != std::string::npos)
                model = line.substr(line.find_first_not_of(' ', colon + 1));
            break;
        }
    }
    utsname name{};
    uname(&name);
    return "Machine: " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores (nproc), " +
           model + ", Linux " + name.release + ".";
}

}  // namespace qk42rt::bench

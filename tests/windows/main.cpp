// qk42rt_wintest: a Windows host of QK42RT.dll, run under Wine by the Windows test stage.
//   qk42rt_wintest session   DLL PORT MISSING_PORT SIM_LOG
//   qk42rt_wintest exit-held DLL PORT SIM_LOG PROBE_DLL
//   qk42rt_wintest missing   DLL MISSING_PORT
#include <cstdio>
#include <cstdlib>
#include <string>

#include "session.h"

namespace {

int usage() {
    std::fputs(
        "usage: qk42rt_wintest session DLL PORT MISSING_PORT SIM_LOG\n"
        "       qk42rt_wintest exit-held DLL PORT SIM_LOG PROBE_DLL\n"
        "       qk42rt_wintest missing DLL MISSING_PORT\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return usage();
    const std::string mode = argv[1];
    qk42rt_wintest::Setup setup;
    setup.dll = argv[2];
    if (mode == "session" && argc == 6) {
        setup.port = std::atoi(argv[3]);
        setup.missing_port = std::atoi(argv[4]);
        setup.sim_log = argv[5];
        return qk42rt_wintest::full_session(setup);
    }
    if (mode == "exit-held" && argc == 6) {
        setup.port = std::atoi(argv[3]);
        setup.sim_log = argv[4];
        setup.probe_dll = argv[5];
        return qk42rt_wintest::exit_with_port_held(setup);
    }
    if (mode == "missing" && argc == 4) {
        setup.missing_port = std::atoi(argv[3]);
        return qk42rt_wintest::init_missing_port(setup);
    }
    return usage();
}

// qk42rt_exit_probe.dll: loaded by the test host before QK42RT.dll, so that Windows detaches
// it after QK42RT.dll when the process ends. At that moment it asks the simulator's output
// whether the line was hung up, which proves that the library's own detach released the port
// (Wine would release it anyway once the process is gone).
#include <windows.h>

#include <cstring>

#include "sim_log.h"

namespace {

char g_log_path[MAX_PATH];
int g_expected_hangups = 0;
int g_timeout_ms = 0;
bool g_armed = false;

void say(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(std::strlen(text)),
              &written, nullptr);
}

}  // namespace

extern "C" __declspec(dllexport) void qk42rt_probe_arm(const char* sim_log, int expected_hangups,
                                                       int timeout_ms) {
    lstrcpynA(g_log_path, sim_log, MAX_PATH);
    g_expected_hangups = expected_hangups;
    g_timeout_ms = timeout_ms;
    g_armed = true;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH && g_armed) {
        const bool released =
            qk42rt_wintest::SimLog(g_log_path).wait_for_hangups(g_expected_hangups, g_timeout_ms);
        say(released ? "ok   process exit released the held port before the process ended\n"
                     : "FAIL process exit left the port held\n");
    }
    return TRUE;
}

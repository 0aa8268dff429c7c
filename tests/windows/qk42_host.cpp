// qk42_wintest: a Windows host of qk42.dll, linked through its import library and run under
// Wine by the Windows test stage, against the simulator on a COM port and over TCP at once.
//   qk42_wintest COM_DEVICE TCP_DEVICE MISSING_COM
// The simulator serves addresses 1 and 2; the COM line works with address 1, the TCP line
// with address 2, each from its own thread, so that a value crossing over shows.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "check.h"
#include "qk42.h"

namespace {

using qk42rt_wintest::Checks;

std::string reason(qk42_line* line) {
    char text[256];
    qk42_last_error(line, text, sizeof text);
    return text;
}

// Every function on one line for one address, checking each value written reads back.
struct Session {
    qk42_line* line;
    int address;
    float base;  // setpoints written on this line: base + channel
    Checks checks;
    const char* name;

    void expect(bool ok, const char* what) {
        char text[200];
        std::snprintf(text, sizeof text, "%s: %s", name, what);
        checks.expect(ok, text);
    }

    void run() {
        for (int round = 0; round < 20; ++round) {
            for (int channel = 1; channel <= 8; ++channel) {
                const float setpoint = base + static_cast<float>(channel);
                float value = 0;
                int status = -1;
                if (qk42_set_setpoint(line, address, channel, setpoint) != QK42_OK ||
                    qk42_read_setpoint(line, address, channel, &value, &status) != QK42_OK ||
                    value != setpoint) {
                    expect(false, "setpoint written reads back, no value from the other line");
                    return;
                }
            }
        }
        expect(true, "160 setpoints written and read back");
        int unit = 0, state = -1;
        expect(qk42_set_unit(line, address, 3, 4) == QK42_OK &&
                   qk42_read_unit(line, address, 3, &unit) == QK42_OK && unit == 4,
               "unit 4 reads back");
        expect(qk42_set_on_off(line, address, 0x81) == QK42_OK &&
                   qk42_read_on_off(line, address, &state) == QK42_OK && state == 0x81,
               "on/off 0x81 reads back");
        float value = 0;
        int status = -1;
        expect(qk42_set_maxflow(line, address, 8, 250.0f, 3) == QK42_OK &&
                   qk42_read_maxflow(line, address, 8, &value, &status) == QK42_OK &&
                   value == 250.0f,
               "maximum flow 250 reads back");
        expect(qk42_read_flow(line, address, 1, &value, &status) == QK42_OK && status >= 0 &&
                   status <= 7,
               "flow reads with a 3-bit status");
        unsigned char bytes[4] = {};
        expect(qk42_int_control(line, address, 1) == QK42_OK &&
                   qk42_read_inttime(line, address, bytes) == QK42_OK &&
                   qk42_read_intflow(line, address, 1, bytes) == QK42_OK &&
                   qk42_int_control(line, address, 2) == QK42_OK,
               "integration starts, counts and stops");
        int channel = 0, ratio = 0, channel2 = 0, channel3 = 0;
        expect(qk42_set_ratio_total(line, address, 2, 165, 3, 4) == QK42_OK &&
                   qk42_read_ratio_total(line, address, &channel, &ratio, &channel2, &channel3) ==
                       QK42_OK &&
                   channel == 2 && ratio == 165 && channel2 == 3 && channel3 == 4 &&
                   qk42_control_ratio_total(line, address, 1) == QK42_OK,
               "ratio/total 2 165 3 4 reads back, mode 1 acknowledged");
        char text[4] = {};
        int kind = -1, info1 = -1, info2 = -1;
        expect(qk42_read_version(line, address, text, &value, &kind, &info1, &info2) == QK42_OK &&
                   std::strcmp(text, "1.2") == 0 && value == 1.2f && kind == 1 && info1 == 8 &&
                   info2 == 1,
               "version 1.2, kind C, info 8 1");
        expect(qk42_set_display(line, address, 1, 0) == QK42_OK &&
                   qk42_set_key_lock(line, address, 0) == QK42_OK,
               "display and key lock answered");
    }
};

DWORD WINAPI run_session(void* session) {
    static_cast<Session*>(session)->run();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: qk42_wintest COM_DEVICE TCP_DEVICE MISSING_COM\n", stderr);
        return 2;
    }
    Checks c;
    qk42_line* com = nullptr;
    qk42_line* tcp = nullptr;
    if (!c.expect(qk42_open(argv[1], &com) == QK42_OK, "the COM line opens") ||
        !c.expect(qk42_open(argv[2], &tcp) == QK42_OK, "the TCP line opens")) {
        std::printf("     %s\n", reason(nullptr).c_str());
        qk42_close(com);
        return 1;
    }

    Session sessions[2] = {{com, 1, 100.0f, {}, "COM"}, {tcp, 2, 200.0f, {}, "TCP"}};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = CreateThread(nullptr, 0, run_session, &sessions[i], 0, nullptr);
    }
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) CloseHandle(thread);
    const int session_failures = sessions[0].checks.failures() + sessions[1].checks.failures();
    c.expect(session_failures == 0, "both lines at once from two threads: every value its own");

    // Failures and their reasons.
    float value = -7;
    int status = -7;
    ULONGLONG start = GetTickCount64();
    c.expect(qk42_read_flow(com, 3, 1, &value, &status) == QK42_NO_REPLY && value == -7,
             "address 3 is silent: no_reply, outputs untouched");
    c.expect(GetTickCount64() - start >= 480, "after the 500 ms reply time-out");
    c.expect(reason(com) == "no reply: 0 of 5 bytes within 500 ms", reason(com).c_str());
    c.expect(qk42_set_reply_timeout(tcp, 150) == QK42_OK, "reply time-out 150 ms on TCP");
    start = GetTickCount64();
    c.expect(qk42_read_flow(tcp, 3, 1, &value, &status) == QK42_NO_REPLY &&
                 GetTickCount64() - start < 450,
             "a silent address on TCP gives up after 150 ms");
    c.expect(qk42_set_unit(com, 1, 1, 5) == QK42_BAD_ARGUMENT &&
                 reason(com) == "bad argument: unit must be 1 to 4, not 5",
             "unit 5 is refused before anything is sent");
    qk42_line* missing = nullptr;
    c.expect(qk42_open(argv[3], &missing) == QK42_CANNOT_OPEN && missing == nullptr,
             "a COM port with no device cannot be opened");
    c.expect(reason(nullptr).find("no such device") != std::string::npos, reason(nullptr).c_str());
    c.expect(qk42_open("tcp://127.0.0.1", &missing) == QK42_BAD_ARGUMENT,
             "a malformed device string is a bad argument");
    c.expect(std::strcmp(qk42_status_name(QK42_LINE_CLOSED), "line_closed") == 0, "status names");
    qk42_close(com);
    qk42_close(tcp);
    std::printf("%s\n", c.failures() == 0 ? "PASS qk42_wintest" : "FAIL qk42_wintest");
    return c.exit_status();
}

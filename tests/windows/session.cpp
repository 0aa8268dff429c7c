#include "session.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "check.h"
#include "library.h"
#include "message_box_watch.h"
#include "sim_log.h"

namespace qk42rt_wintest {
namespace {

constexpr int kServed = 1;    // the address the simulator answers
constexpr int kUnserved = 5;  // an address nobody answers on the line
constexpr int kReleaseWaitMs = 3000;

// Writes, each answered by the simulator; read back below.
void writes(const Functions& f, Checks& c) {
    struct Write {
        const char* what;
        int result;
        int expected;
    };
    // Braced initializers run in order, so the calls reach the line in this order.
    const Write table[] = {
        {"SetUnit(1, 2, 3)", f.SetUnit(kServed, 2, 3), 1},
        {"SetSetpoint(1, 2, 42.5)", f.SetSetpoint(kServed, 2, 42.5f), 1},
        {"SetMaxflow(1, 2, 200.0, 7)", f.SetMaxflow(kServed, 2, 200.0f, 7), 1},
        {"SetOnOff(1, 0x5A)", f.SetOnOff(kServed, 0x5A), 1},
        {"SetRatioTotal(1, 2, 0xA5, 3, 4)", f.SetRatioTotal(kServed, 2, 0xA5, 3, 4), 1},
        {"ControlRatioTotal(1, 1)", f.ControlRatioTotal(kServed, 1), 1},
        {"IntControl(1, 0)", f.IntControl(kServed, 0), 1},
        {"SetDisplay(1, 1, 0)", f.SetDisplay(kServed, 1, 0), 1},
        {"SetKeyLock(1, 1)", f.SetKeyLock(kServed, 1), 1},
        {"SetKeyLock(1, 0)", f.SetKeyLock(kServed, 0), 1},
    };
    for (const Write& w : table) {
        char line[160];
        std::snprintf(line, sizeof line, "%s returns %d (got %d)", w.what, w.expected, w.result);
        c.expect(w.result == w.expected, line);
    }
}

void read_backs(const Functions& f, Checks& c) {
    int unit = 0;
    c.expect(f.ReadUnit(kServed, 2, &unit) == 1 && unit == 3, "ReadUnit reads back unit 3");

    float value = 0;
    int status = -1;
    c.expect(f.ReadSetpoint(kServed, 2, &value, &status) == 1 && value == 42.5f && status >= 0 &&
                 status <= 7,
             "ReadSetpoint reads back 42.5 with a 3-bit status");
    c.expect(f.ReadMaxflow(kServed, 2, &value, &status) == 1 && value == 200.0f,
             "ReadMaxflow reads back 200.0");
    status = -1;
    c.expect(f.ReadFlow(kServed, 2, &value, &status) == 1 && status >= 0 && status <= 7,
             "ReadFlow answers with a 3-bit status");

    int state = 0;
    c.expect(f.ReadOnOff(kServed, &state) == 1 && state == 0x5A, "ReadOnOff reads back 0x5A");
    state = 0;
    c.expect(f.ReadOnOff(kServed + 8, &state) == 1 && state == 0x5A,
             "address 9 reaches instrument 1");

    int channel = 0, ratio = 0, channel2 = 0, channel3 = 0;
    c.expect(f.ReadRatioTotal(kServed, &channel, &ratio, &channel2, &channel3) == 1 &&
                 channel == 2 && ratio == 0xA5 && channel2 == 3 && channel3 == 4,
             "ReadRatioTotal reads back 2, 165, 3, 4");

    unsigned char four[4];
    std::memset(four, 0xEE, sizeof four);
    c.expect(f.ReadIntflow(kServed, 2, four) == 1, "ReadIntflow answers");
    std::memset(four, 0xEE, sizeof four);
    c.expect(f.ReadInttime(kServed, four) == 1, "ReadInttime answers");

    float version = 0;
    int kind = -1, info1 = -1, info2 = -1;
    const int result = f.ReadVersion(kServed, &version, &kind, &info1, &info2);
    c.expect(result == 6 && version == 1.2f && kind == 1 && info1 == 8 && info2 == 1,
             "ReadVersion returns 6: version 1.2, kind C, info 8 and 1");
}

// Nobody answers address 5: each call fails after the 500 ms read time-out and leaves its
// outputs alone; the next call to a served address works.
void missing_reply(const Functions& f, Checks& c) {
    float flow = -7.0f;
    int status = -7;
    const double start = now_ms();
    const int result = f.ReadFlow(kUnserved, 1, &flow, &status);
    const double took = now_ms() - start;
    c.expect(result == 0 && flow == -7.0f && status == -7,
             "ReadFlow without a reply returns 0, outputs untouched");
    char line[120];
    std::snprintf(line, sizeof line, "the missing reply is given up after %.0f ms (450..1500)",
                  took);
    c.expect(took >= 450 && took <= 1500, line);

    c.expect(f.SetOnOff(kUnserved, 1) == 0, "SetOnOff without a reply returns 0");
    int state = 0;
    c.expect(f.ReadOnOff(kServed, &state) == 1 && state == 0x5A,
             "the next exchange after a time-out succeeds");
}

// Host threads that share the library: every call is serialized, so no exchange sees
// another's reply.
void concurrent_calls(const Functions& f, Checks& c) {
    struct Worker {
        const Functions* f;
        int failures = 0;
        static DWORD WINAPI run(LPVOID self_pointer) {
            auto* self = static_cast<Worker*>(self_pointer);
            for (int i = 0; i < 25; ++i) {
                int state = 0;
                float value = 0;
                int status = 0;
                if (self->f->ReadOnOff(kServed, &state) != 1 || state != 0x5A) ++self->failures;
                if (self->f->ReadMaxflow(kServed, 2, &value, &status) != 1 || value != 200.0f) {
                    ++self->failures;
                }
            }
            return 0;
        }
    };
    Worker workers[3] = {{&f}, {&f}, {&f}};
    HANDLE threads[3];
    for (int i = 0; i < 3; ++i) {
        threads[i] = CreateThread(nullptr, 0, &Worker::run, &workers[i], 0, nullptr);
    }
    WaitForMultipleObjects(3, threads, TRUE, INFINITE);
    int failures = 0;
    for (int i = 0; i < 3; ++i) {
        CloseHandle(threads[i]);
        failures += workers[i].failures;
    }
    char line[120];
    std::snprintf(line, sizeof line, "3 threads, 150 calls at once: all answered right (%d wrong)",
                  failures);
    c.expect(failures == 0, line);
}

void null_outputs(const Functions& f, Checks& c) {
    int status = 9;
    float value = 9;
    c.expect(f.ReadFlow(kServed, 1, nullptr, &status) == 0 && status == 9 &&
                 f.ReadVersion(kServed, &value, nullptr, nullptr, nullptr) == 0 && value == 9,
             "a null output pointer makes the call fail, other outputs untouched");
}

}  // namespace

int full_session(const Setup& setup) {
    Checks c;
    Functions f;
    bool resolved = false;
    const HMODULE library = load_library(setup.dll, f, resolved);
    if (!c.expect(library != nullptr && resolved, "QK42RT.dll loads with all twenty functions")) {
        if (library != nullptr) FreeLibrary(library);
        return 1;
    }
    const SimLog log(setup.sim_log);

    c.expect(f.ClosePort() == 1, "ClosePort with no port held returns 1");
    int state = 77;
    c.expect(f.ReadOnOff(kServed, &state) == 0 && state == 77,
             "an operation before InitPort returns 0, output untouched");

    c.expect(f.InitPort(setup.port) == 1, "InitPort opens the simulator's line");
    c.expect(f.InitPort(setup.port) == 1, "InitPort again on the same port succeeds");

    writes(f, c);
    read_backs(f, c);
    concurrent_calls(f, c);
    null_outputs(f, c);
    missing_reply(f, c);

    int hangups = log.hangups();
    c.expect(f.ClosePort() == 1, "ClosePort returns 1");
    c.expect(log.wait_for_hangups(hangups + 1, kReleaseWaitMs), "ClosePort releases the line");
    state = 77;
    c.expect(f.ReadOnOff(kServed, &state) == 0 && state == 77,
             "an operation after ClosePort returns 0, output untouched");

    // Without a display the message box returns at once.
    const double start = now_ms();
    c.expect(f.InitPort(setup.missing_port) == 0,
             "InitPort on a port that does not exist returns 0");
    c.expect(now_ms() - start < 3000,
             "... and returns without waiting when nobody can see the box");
    c.expect(f.ClosePort() == 1, "ClosePort after a failed InitPort returns 1");

    c.expect(f.InitPort(setup.port) == 1, "InitPort opens the line again");
    c.expect(f.ReadOnOff(kServed, &state) == 1, "the line answers again");
    hangups = log.hangups();
    c.expect(FreeLibrary(library) != 0, "FreeLibrary with the port held");
    c.expect(log.wait_for_hangups(hangups + 1, kReleaseWaitMs),
             "FreeLibrary released the held port (the simulator saw the line hang up)");

    std::printf("%s: %d failed\n", c.failures() == 0 ? "session passed" : "session FAILED",
                c.failures());
    return c.exit_status();
}

int exit_with_port_held(const Setup& setup) {
    Checks c;
    // Loaded first, so detached after QK42RT.dll when the process ends.
    const HMODULE probe = LoadLibraryA(setup.probe_dll.c_str());
    using Arm = void (*)(const char*, int, int);
    Arm arm = nullptr;
    if (probe != nullptr) {
        const FARPROC found = GetProcAddress(probe, "qk42rt_probe_arm");
        std::memcpy(&arm, &found, sizeof arm);
    }
    if (!c.expect(arm != nullptr, "the exit probe loads")) return 1;

    Functions f;
    bool resolved = false;
    if (!c.expect(load_library(setup.dll, f, resolved) != nullptr && resolved,
                  "QK42RT.dll loads with all twenty functions")) {
        return 1;
    }
    int state = 0;
    c.expect(f.InitPort(setup.port) == 1, "InitPort opens the simulator's line");
    c.expect(f.ReadOnOff(kServed, &state) == 1, "the line answers");
    const SimLog log(setup.sim_log);
    arm(setup.sim_log.c_str(), log.hangups() + 1, kReleaseWaitMs);
    std::printf("leaving the process with the port held\n");
    std::fflush(stdout);
    return c.exit_status();  // no ClosePort, no FreeLibrary
}

int init_missing_port(const Setup& setup) {
    Checks c;
    Functions f;
    bool resolved = false;
    const HMODULE library = load_library(setup.dll, f, resolved);
    if (!c.expect(library != nullptr && resolved, "QK42RT.dll loads with all twenty functions")) {
        return 1;
    }
    MessageBoxWatch watch("QK42RT", 30000);
    const double start = now_ms();
    const int result = f.InitPort(setup.missing_port);
    char line[160];
    std::snprintf(line, sizeof line, "InitPort(%d) returned %d after %.0f ms", setup.missing_port,
                  result, now_ms() - start);
    c.expect(result == 0, line);
    std::string text;
    const bool seen = watch.seen(text);
    std::snprintf(line, sizeof line, "a box captioned \"QK42RT\" said \"%s\"", text.c_str());
    c.expect(seen && text == "can't open port!", line);
    c.expect(f.ClosePort() == 1, "ClosePort returns 1");
    FreeLibrary(library);
    return c.exit_status();
}

}  // namespace qk42rt_wintest

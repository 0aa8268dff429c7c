// The twenty C functions end to end on a pseudo-terminal, the test playing the instrument.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "line_fixture.h"
#include "port/open_port.h"
#include "port_holder.h"

namespace qk42rt::testing {
namespace {

using namespace std::chrono;

class Exports : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(QK42RT_InitPort(kTestPort), 1); }
    void TearDown() override { QK42RT_ClosePort(); }
    ScriptedInstrument instrument;
};

struct Step {
    const char* name;
    std::function<int()> call;
    const char* request;
    const char* reply;
    int result;
};

TEST_F(Exports, FullSessionOfEveryOperation) {
    float f = 0;
    int a = 0, b = 0, c = 0, d = 0;
    unsigned char four[4] = {};
    std::uint32_t word = 0;
    const Step steps[] = {
        {"ReadFlow", [&] { return QK42RT_ReadFlow(1, 2, &f, &a); }, "83 01", "02 00 00 C8 42", 1},
        {"ReadSetpoint", [&] { return QK42RT_ReadSetpoint(1, 2, &f, &a); }, "84 01",
         "01 00 00 80 3F", 1},
        {"ReadMaxflow", [&] { return QK42RT_ReadMaxflow(2, 8, &f, &a); }, "95 07", "00 00 00 48 42",
         1},
        {"ReadUnit", [&] { return QK42RT_ReadUnit(1, 3, &a); }, "82 02", "02", 1},
        {"SetUnit", [&] { return QK42RT_SetUnit(1, 1, 3); }, "81 00 02", "01", 1},
        {"SetSetpoint", [&] { return QK42RT_SetSetpoint(1, 1, 1.0f); }, "8E 00 04 00 00 00 3F",
         "0E", 1},
        {"SetMaxflow", [&] { return QK42RT_SetMaxflow(1, 2, 100.0f, 2); },
         "8F 01 04 00 00 48 42 02", "0F", 1},
        {"ReadIntflow", [&] { return QK42RT_ReadIntflow(1, 1, four); }, "86 00", "01 02 03 04", 1},
        {"ReadInttime", [&] { return QK42RT_ReadInttime(2, &word); }, "97", "10 00 00 00", 1},
        {"IntControl", [&] { return QK42RT_IntControl(1, 0x85); }, "88 85", "08", 1},
        {"ReadRatioTotal", [&] { return QK42RT_ReadRatioTotal(1, &a, &b, &c, &d); }, "89",
         "01 A5 23", 1},
        {"SetRatioTotal", [&] { return QK42RT_SetRatioTotal(1, 2, 0xA5, 3, 4); }, "8A 01 0A 05 23",
         "0A", 1},
        {"ControlRatioTotal", [&] { return QK42RT_ControlRatioTotal(1, 4); }, "8D 01", "0D", 1},
        {"ReadOnOff", [&] { return QK42RT_ReadOnOff(1, &a); }, "8B", "FF", 1},
        {"SetOnOff", [&] { return QK42RT_SetOnOff(1, 0x5A); }, "8C 05 0A", "77", 1},
        {"ReadVersion", [&] { return QK42RT_ReadVersion(1, &f, &a, &b, &c); }, "80 00",
         "31 2E 32 43 08 01", 6},
        {"SetDisplay", [&] { return QK42RT_SetDisplay(1, 1, 0); }, "80 06", "00 00 00 00 00", 1},
        {"SetKeyLock", [&] { return QK42RT_SetKeyLock(3, 1); }, "A0 30", "00 00 00 00 00", 1},
        {"SetKeyLock short", [&] { return QK42RT_SetKeyLock(3, 0); }, "A0 20", "00 00 00 00", 0},
        {"SetSetpoint echoed header", [&] { return QK42RT_SetSetpoint(1, 1, 1.0f); },
         "8E 00 04 00 00 00 3F", "8E", 0},
    };
    for (const auto& step : steps) {
        instrument.answer(step.reply);
        EXPECT_EQ(step.call(), step.result) << step.name;
        EXPECT_EQ(instrument.last_request(), step.request) << step.name;
    }
}

TEST_F(Exports, OutputsWrittenOnSuccessOnly) {
    float flow = 7.0f;
    int status = 7;
    instrument.answer("0B 00 00 C8 42");
    ASSERT_EQ(QK42RT_ReadFlow(1, 1, &flow, &status), 1);
    EXPECT_EQ(flow, -1.0f);
    EXPECT_EQ(status, 3);

    flow = 7.0f, status = 7;
    instrument.answer("02 00 00 C8");  // one byte short
    EXPECT_EQ(QK42RT_ReadFlow(1, 1, &flow, &status), 0);
    EXPECT_EQ(flow, 7.0f);
    EXPECT_EQ(status, 7);

    float version = 3.5f;
    int kind = 9, info1 = 9, info2 = 9;
    instrument.answer("76 31 2E 4D 02 03");  // no number in the text: version untouched
    EXPECT_EQ(QK42RT_ReadVersion(1, &version, &kind, &info1, &info2), 6);
    EXPECT_EQ(version, 3.5f);
    EXPECT_EQ(kind, 0);
    EXPECT_EQ(info1, 2);
    EXPECT_EQ(info2, 3);

    instrument.answer("31 2E 32 58 08 01");  // unknown kind letter: nothing written
    kind = info1 = info2 = 9;
    EXPECT_EQ(QK42RT_ReadVersion(1, &version, &kind, &info1, &info2), 0);
    EXPECT_EQ(version, 3.5f);
    EXPECT_EQ(kind + info1 + info2, 27);

    unsigned char four[4] = {9, 9, 9, 9};
    instrument.answer("01 02 03");
    EXPECT_EQ(QK42RT_ReadIntflow(1, 1, four), 0);
    EXPECT_EQ(four[0] + four[1] + four[2] + four[3], 36);
}

TEST_F(Exports, NullOutputFailsWithoutSendingAnything) {
    float f = 0;
    int i = 0;
    const std::function<int()> calls[] = {
        [&] { return QK42RT_ReadFlow(1, 1, nullptr, &i); },
        [&] { return QK42RT_ReadSetpoint(1, 1, &f, nullptr); },
        [&] { return QK42RT_ReadMaxflow(1, 1, nullptr, nullptr); },
        [&] { return QK42RT_ReadUnit(1, 1, nullptr); },
        [&] { return QK42RT_ReadIntflow(1, 1, nullptr); },
        [&] { return QK42RT_ReadInttime(1, nullptr); },
        [&] { return QK42RT_ReadRatioTotal(1, &i, &i, &i, nullptr); },
        [&] { return QK42RT_ReadOnOff(1, nullptr); },
        [&] { return QK42RT_ReadVersion(1, nullptr, &i, &i, &i); },
        [&] { return QK42RT_ReadVersion(1, &f, &i, nullptr, &i); },
    };
    for (const auto& call : calls) EXPECT_EQ(call(), 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(instrument.request_count(), 0u);
}

TEST_F(Exports, SplitReplyWithinTheLimitSucceeds) {
    instrument.answer({{0, hex("02 00")}, {200, hex("00")}, {200, hex("C8 42")}});
    float flow = 0;
    int status = 0;
    EXPECT_EQ(QK42RT_ReadFlow(1, 1, &flow, &status), 1);
    EXPECT_EQ(flow, 100.0f);
}

TEST_F(Exports, LateReplyFailsAt500msAndIsPurgedByTheNextExchange) {
    instrument.answer({{650, hex("02 00 00 C8 42")}});
    float flow = 5.0f;
    int status = 5;
    const auto start = steady_clock::now();
    EXPECT_EQ(QK42RT_ReadFlow(1, 1, &flow, &status), 0);
    const double ms = duration<double, std::milli>(steady_clock::now() - start).count();
    EXPECT_GE(ms, 500.0);
    EXPECT_LT(ms, 600.0);
    EXPECT_EQ(flow, 5.0f);
    std::this_thread::sleep_for(250ms);  // the late reply lands in the receive buffer
    instrument.answer("0E");
    EXPECT_EQ(QK42RT_SetSetpoint(1, 1, 1.0f), 1);
}

TEST_F(Exports, SurplusByteIsPurgedByTheNextExchange) {
    instrument.answer("0E 0E 0E");
    EXPECT_EQ(QK42RT_SetSetpoint(1, 1, 1.0f), 1);
    std::this_thread::sleep_for(30ms);
    instrument.answer("");  // says nothing: the surplus must not pass for a reply
    int unit = 0;
    EXPECT_EQ(QK42RT_ReadUnit(1, 1, &unit), 0);
    EXPECT_EQ(unit, 0);
}

TEST_F(Exports, ExclusiveOpenRefusesASecondOpenerEvenRoot) {
    const int fd = open_raw(instrument.peer().slave_path());
    if (fd >= 0) {
        // Root passes the tty exclusive mode; the advisory lock still refuses it.
        EXPECT_NE(flock(fd, LOCK_EX | LOCK_NB), 0);
        close(fd);
    }
    // A second opener in this process, and one in another process, are refused.
    EXPECT_EQ(open_serial_device(instrument.peer().slave_path()).status, OpenStatus::cannot_open);
    EXPECT_EQ(run_port_holder(instrument.peer().slave_path()), 1) << "InitPort must return 0";
}

TEST_F(Exports, InitTwiceOnTheSamePortSucceeds) {
    EXPECT_EQ(QK42RT_InitPort(kTestPort), 1);
    instrument.answer("0C");
    EXPECT_EQ(QK42RT_SetOnOff(1, 1), 1);
}

TEST(ExportsWithoutPort, EveryOperationFailsAndWritesNothing) {
    EXPECT_EQ(QK42RT_ClosePort(), 1);
    EXPECT_EQ(QK42RT_ClosePort(), 1);
    float f = 2.0f;
    int i = 2;
    EXPECT_EQ(QK42RT_ReadFlow(1, 1, &f, &i), 0);
    EXPECT_EQ(QK42RT_ReadVersion(1, &f, &i, &i, &i), 0);
    EXPECT_EQ(QK42RT_SetOnOff(1, 1), 0);
    EXPECT_EQ(QK42RT_SetKeyLock(1, 1), 0);
    EXPECT_EQ(f, 2.0f);
    EXPECT_EQ(i, 2);
}

TEST(ExportsWithoutPort, MissingPortSaysSoOnceAndHoldsNoPort) {
    ScriptedInstrument instrument;
    ASSERT_EQ(QK42RT_InitPort(kTestPort), 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(QK42RT_InitPort(kMissingPort), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "can't open port!\n");
    instrument.answer("0C");
    EXPECT_EQ(QK42RT_SetOnOff(1, 1), 0) << "the port held before a failed InitPort is closed";
    for (int port : {0, -1}) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(QK42RT_InitPort(port), 0);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "can't open port!\n");
    }
    EXPECT_EQ(QK42RT_ClosePort(), 1);
}

}  // namespace
}  // namespace qk42rt::testing

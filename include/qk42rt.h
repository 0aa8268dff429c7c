/* QK42RT: driver library for the QK42 multi-channel flow instrument on a serial line.
 *
 * Every function returns 1 on success and 0 on failure (QK42RT_ReadVersion returns 6 on
 * success, QK42RT_ClosePort always 1). Outputs are written only when a call succeeds.
 * Calls are serialized inside the library; a null output pointer makes a call fail. */
#ifndef QK42RT_H
#define QK42RT_H

/* Calling convention of every function: cdecl, the C default. */
#if defined(_WIN32) && !defined(QK42RT_CALL)
#define QK42RT_CALL __cdecl
#elif !defined(QK42RT_CALL)
#define QK42RT_CALL
#endif

/* Export / import decoration. */
#if !defined(QK42RT_API)
#if defined(_WIN32)
#if defined(QK42RT_BUILDING)
#define QK42RT_API
#elif defined(QK42RT_STATIC)
#define QK42RT_API
#else
#define QK42RT_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QK42RT_API __attribute__((visibility("default")))
#else
#define QK42RT_API
#endif
#endif

/* No function throws: C++ hosts see that in the declarations. */
#if defined(__cplusplus) && __cplusplus >= 201103L
#define QK42RT_NOTHROW noexcept
#else
#define QK42RT_NOTHROW
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens serial port number `port` (COM<port> on Windows, /dev/ttyS<port-1> on Linux). */
QK42RT_API int QK42RT_CALL QK42RT_InitPort(int port) QK42RT_NOTHROW;
QK42RT_API int QK42RT_CALL QK42RT_ClosePort(void) QK42RT_NOTHROW;

/* Channel readings: status receives the low three status bits. */
QK42RT_API int QK42RT_CALL QK42RT_ReadFlow(int address, int channel, float* flow,
                                           int* status) QK42RT_NOTHROW;
QK42RT_API int QK42RT_CALL QK42RT_ReadSetpoint(int address, int channel, float* setpoint,
                                               int* status) QK42RT_NOTHROW;
QK42RT_API int QK42RT_CALL QK42RT_ReadMaxflow(int address, int channel, float* maxflow,
                                              int* status) QK42RT_NOTHROW;

/* Channel settings. */
QK42RT_API int QK42RT_CALL QK42RT_ReadUnit(int address, int channel, int* unit) QK42RT_NOTHROW;
QK42RT_API int QK42RT_CALL QK42RT_SetUnit(int address, int channel, int unit) QK42RT_NOTHROW;
QK42RT_API int QK42RT_CALL QK42RT_SetSetpoint(int address, int channel,
                                              float setpoint) QK42RT_NOTHROW;
QK42RT_API int QK42RT_CALL QK42RT_SetMaxflow(int address, int channel, float maxflow,
                                             int code) QK42RT_NOTHROW;

/* Flow integration. The two readings fill 4 bytes in the order the instrument sends them;
 * pass a pointer to any 4-byte storage. */
QK42RT_API int QK42RT_CALL QK42RT_ReadIntflow(int address, int channel,
                                              void* intflow) QK42RT_NOTHROW;
QK42RT_API int QK42RT_CALL QK42RT_ReadInttime(int address, void* inttime) QK42RT_NOTHROW;
QK42RT_API int QK42RT_CALL QK42RT_IntControl(int address, int control) QK42RT_NOTHROW;

/* Ratio and total. */
QK42RT_API int QK42RT_CALL QK42RT_ReadRatioTotal(int address, int* channel, int* value,
                                                 int* channel2, int* channel3) QK42RT_NOTHROW;
QK42RT_API int QK42RT_CALL QK42RT_SetRatioTotal(int address, int channel, int value, int channel2,
                                                int channel3) QK42RT_NOTHROW;
QK42RT_API int QK42RT_CALL QK42RT_ControlRatioTotal(int address, int mode) QK42RT_NOTHROW;

/* On/off state of the instrument, 8 bits. */
QK42RT_API int QK42RT_CALL QK42RT_ReadOnOff(int address, int* state) QK42RT_NOTHROW;
QK42RT_API int QK42RT_CALL QK42RT_SetOnOff(int address, int state) QK42RT_NOTHROW;

/* System: version (returns 6 on success), display options, key lock. */
QK42RT_API int QK42RT_CALL QK42RT_ReadVersion(int address, float* version, int* kind, int* info1,
                                              int* info2) QK42RT_NOTHROW;
QK42RT_API int QK42RT_CALL QK42RT_SetDisplay(int address, int flag1, int flag2) QK42RT_NOTHROW;
QK42RT_API int QK42RT_CALL QK42RT_SetKeyLock(int address, int locked) QK42RT_NOTHROW;

#ifdef __cplusplus
}
#endif

#endif /* QK42RT_H */

/* libqk42: the host interface for new programs, beside the twenty legacy QK42RT_ functions.
 *
 * A handle per open line, any number of lines per process, a status code and a reason for
 * every failure. The line is named by a device string: a serial device path ("/dev/ttyUSB0",
 * "COM3" on Windows), "tcp://HOST:PORT" (a device server in raw mode) or "rfc2217://HOST:PORT"
 * (a device server speaking Telnet with the COM-PORT-OPTION).
 *
 * Every function is thread-safe: calls on one line are serialized by that line's own lock,
 * calls on different lines run in parallel. Outputs are written only when a call returns
 * QK42_OK, and then all of them. Arguments are checked before anything is sent: address and
 * channel 1 to 8, unit 1 to 4, maximum-flow code 0 to 4, ratio/total mode 0 to 2, integration
 * control 0 to 127, on/off state and ratio/total value 0 to 255, setpoint and maximum flow
 * finite; a null line or output pointer is QK42_BAD_ARGUMENT too. */
#ifndef QK42_H
#define QK42_H

#include <stddef.h>

#if defined(_WIN32) && !defined(QK42_CALL)
#define QK42_CALL __cdecl
#elif !defined(QK42_CALL)
#define QK42_CALL
#endif

#if !defined(QK42_API)
#if defined(_WIN32)
#if defined(QK42_BUILDING) || defined(QK42_STATIC)
#define QK42_API
#else
#define QK42_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QK42_API __attribute__((visibility("default")))
#else
#define QK42_API
#endif
#endif

#if defined(__cplusplus) && __cplusplus >= 201103L
#define QK42_NOTHROW noexcept
#else
#define QK42_NOTHROW
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One open line to one or more instruments (addresses 1 to 8 on a multi-drop line). */
typedef struct qk42_line qk42_line;

typedef enum qk42_status {
    QK42_OK = 0,
    QK42_NO_REPLY = 1,         /* no byte within the reply time-out */
    QK42_SHORT_REPLY = 2,      /* fewer bytes than the reply's length */
    QK42_WRONG_ACK = 3,        /* the acknowledge byte was not header AND 0x7F */
    QK42_BAD_KIND = 4,         /* version reply whose kind letter is neither M nor C */
    QK42_CANNOT_OPEN = 5,      /* no such device, held by another program, connection refused */
    QK42_SETTINGS_REFUSED = 6, /* opened, but the line settings were refused */
    QK42_LINE_CLOSED = 7,      /* the line hung up or the connection dropped */
    QK42_BAD_ARGUMENT = 8      /* null pointer, bad device string, value out of range */
} qk42_status;

/* Opens the line `device` names and stores its handle in *line (NULL on failure). */
QK42_API qk42_status QK42_CALL qk42_open(const char* device, qk42_line** line) QK42_NOTHROW;
/* Closes the line and frees the handle; NULL is fine. No call may be running on it. */
QK42_API void QK42_CALL qk42_close(qk42_line* line) QK42_NOTHROW;
/* "ok", "no_reply", "short_reply", ...: a static string; "unknown" for other values. */
QK42_API const char* QK42_CALL qk42_status_name(qk42_status status) QK42_NOTHROW;
/* The calling thread's last failure on this line in one English line, e.g. "no reply: 0 of 5
 * bytes within 500 ms" (each thread reads the reason of its own calls, also when threads
 * share a line); copied into buf (always terminated when size > 0), returns the full length.
 * With line NULL: the last failure of qk42_open on the calling thread ("cannot open
 * tcp://10.0.0.9:4001: connection refused"). Empty after a success. */
QK42_API size_t QK42_CALL qk42_last_error(qk42_line* line, char* buf, size_t size) QK42_NOTHROW;
/* Reply time-out for this line, 50 to 10000 ms (default 500); for device servers far away. */
QK42_API qk42_status QK42_CALL qk42_set_reply_timeout(qk42_line* line,
                                                      int milliseconds) QK42_NOTHROW;
/* Called after every exchange, on the calling thread and under the line's lock, with the
 * request and the reply bytes as they arrived (reply_size < expected when the reply was
 * short or missing). NULL stops it. The callback must not call into the same line. */
typedef void(QK42_CALL* qk42_trace_fn)(void* user, const unsigned char* request,
                                       size_t request_size, const unsigned char* reply,
                                       size_t reply_size, size_t expected);
QK42_API void QK42_CALL qk42_set_trace(qk42_line* line, qk42_trace_fn trace,
                                       void* user) QK42_NOTHROW;

/* Channel readings: the value and the low three status bits. The flow reads -1.0 when the
 * instrument flags it invalid. */
QK42_API qk42_status QK42_CALL qk42_read_flow(qk42_line* line, int address, int channel,
                                              float* flow, int* status) QK42_NOTHROW;
QK42_API qk42_status QK42_CALL qk42_read_setpoint(qk42_line* line, int address, int channel,
                                                  float* setpoint, int* status) QK42_NOTHROW;
QK42_API qk42_status QK42_CALL qk42_read_maxflow(qk42_line* line, int address, int channel,
                                                 float* maxflow, int* status) QK42_NOTHROW;

/* Channel settings. */
QK42_API qk42_status QK42_CALL qk42_read_unit(qk42_line* line, int address, int channel,
                                              int* unit) QK42_NOTHROW;
QK42_API qk42_status QK42_CALL qk42_set_unit(qk42_line* line, int address, int channel,
                                             int unit) QK42_NOTHROW;
QK42_API qk42_status QK42_CALL qk42_set_setpoint(qk42_line* line, int address, int channel,
                                                 float setpoint) QK42_NOTHROW;
QK42_API qk42_status QK42_CALL qk42_set_maxflow(qk42_line* line, int address, int channel,
                                                float maxflow, int code) QK42_NOTHROW;

/* Flow integration: the 4 bytes as the instrument sent them. */
QK42_API qk42_status QK42_CALL qk42_read_intflow(qk42_line* line, int address, int channel,
                                                 unsigned char bytes[4]) QK42_NOTHROW;
QK42_API qk42_status QK42_CALL qk42_read_inttime(qk42_line* line, int address,
                                                 unsigned char bytes[4]) QK42_NOTHROW;
QK42_API qk42_status QK42_CALL qk42_int_control(qk42_line* line, int address,
                                                int control) QK42_NOTHROW;

/* Ratio and total. */
QK42_API qk42_status QK42_CALL qk42_read_ratio_total(qk42_line* line, int address, int* channel,
                                                     int* value, int* channel2,
                                                     int* channel3) QK42_NOTHROW;
QK42_API qk42_status QK42_CALL qk42_set_ratio_total(qk42_line* line, int address, int channel,
                                                    int value, int channel2,
                                                    int channel3) QK42_NOTHROW;
QK42_API qk42_status QK42_CALL qk42_control_ratio_total(qk42_line* line, int address,
                                                        int mode) QK42_NOTHROW;

/* On/off state: one byte for the whole instrument. */
QK42_API qk42_status QK42_CALL qk42_read_on_off(qk42_line* line, int address,
                                                int* state) QK42_NOTHROW;
QK42_API qk42_status QK42_CALL qk42_set_on_off(qk42_line* line, int address,
                                               int state) QK42_NOTHROW;

/* System commands. text: the three version characters and a terminating zero; number: as
 * the legacy function reads it, NaN when the text holds no number; kind 0 for 'M', 1 for
 * 'C'. */
QK42_API qk42_status QK42_CALL qk42_read_version(qk42_line* line, int address, char text[4],
                                                 float* number, int* kind, int* info1,
                                                 int* info2) QK42_NOTHROW;
QK42_API qk42_status QK42_CALL qk42_set_display(qk42_line* line, int address, int flag1,
                                                int flag2) QK42_NOTHROW;
QK42_API qk42_status QK42_CALL qk42_set_key_lock(qk42_line* line, int address,
                                                 int locked) QK42_NOTHROW;

#ifdef __cplusplus
}
#endif

#endif /* QK42_H */

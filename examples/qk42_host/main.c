/* A small host on libqk42: opens any line, prints the instrument's version and the flow of
 * all eight channels, with the library's reason when something fails.
 *
 *   qk42-host DEVICE [ADDRESS]     DEVICE: /dev/ttyUSB0, tcp://HOST:PORT, rfc2217://HOST:PORT
 *
 * Exits 0 when every call succeeded, 1 when one failed, 2 on a bad argument. */
#include <qk42.h>
#include <stdio.h>
#include <stdlib.h>

static void report(const char* program, qk42_line* line, qk42_status status) {
    char reason[256];
    qk42_last_error(line, reason, sizeof reason);
    fprintf(stderr, "%s: %s (%s)\n", program, reason, qk42_status_name(status));
}

int main(int argc, char** argv) {
    qk42_line* line = NULL;
    qk42_status status;
    int address = 1;
    int failed = 0;
    int channel;
    char text[4];
    float number;
    int kind, info1, info2;

    if (argc < 2 || argc > 3 || (argc == 3 && (address = atoi(argv[2])) < 1) || address > 8) {
        fprintf(stderr, "usage: %s DEVICE [ADDRESS]\n", argv[0]);
        return 2;
    }
    status = qk42_open(argv[1], &line);
    if (status != QK42_OK) {
        report(argv[0], NULL, status); /* NULL: why this thread's open failed */
        return status == QK42_BAD_ARGUMENT ? 2 : 1;
    }
    status = qk42_read_version(line, address, text, &number, &kind, &info1, &info2);
    if (status == QK42_OK) {
        printf("version %s, kind %c, info %d %d\n", text, kind ? 'C' : 'M', info1, info2);
    } else {
        report(argv[0], line, status);
        failed = 1;
    }
    for (channel = 1; channel <= 8; ++channel) {
        float flow;
        int flags;
        status = qk42_read_flow(line, address, channel, &flow, &flags);
        if (status == QK42_OK) {
            printf("channel %d: flow %g status %d\n", channel, flow, flags);
        } else {
            report(argv[0], line, status);
            failed = 1;
        }
    }
    qk42_close(line);
    return failed;
}

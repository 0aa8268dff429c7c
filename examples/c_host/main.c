/* A small C host: opens a port, prints the flow of all eight channels of one instrument.
 *
 *   qk42rt-c-host [PORT [ADDRESS]]      (PORT defaults to 1, ADDRESS to 1)
 *
 * Exits 0 when every call succeeded, 1 when one failed, 2 on a bad argument. */
#include <errno.h>
#include <limits.h>
#include <qk42rt.h>
#include <stdio.h>
#include <stdlib.h>

static int parse_int(const char* text, int* value) {
    char* end = NULL;
    long number;
    errno = 0;
    number = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || number < INT_MIN || number > INT_MAX) return 0;
    *value = (int)number;
    return 1;
}

int main(int argc, char** argv) {
    int port = 1;
    int address = 1;
    int failed = 0;
    int channel;

    if (argc > 3 || (argc > 1 && !parse_int(argv[1], &port)) ||
        (argc > 2 && !parse_int(argv[2], &address))) {
        fprintf(stderr, "usage: %s [PORT [ADDRESS]]\n", argv[0]);
        return 2;
    }

    if (!QK42RT_InitPort(port)) {
        fprintf(stderr, "%s: cannot open port %d\n", argv[0], port);
        return 1;
    }
    for (channel = 1; channel <= 8; ++channel) {
        float flow = 0.0f;
        int status = 0;
        if (QK42RT_ReadFlow(address, channel, &flow, &status)) {
            printf("channel %d: flow %g status %d\n", channel, flow, status);
        } else {
            fprintf(stderr, "%s: reading the flow of channel %d at address %d failed\n", argv[0],
                    channel, address);
            failed = 1;
        }
    }
    QK42RT_ClosePort();
    return failed;
}

#include "host/status.h"

namespace qk42rt::host {

qk42_status status_of(Failure failure) {
    switch (failure) {
        case Failure::no_reply:
            return QK42_NO_REPLY;
        case Failure::short_reply:
            return QK42_SHORT_REPLY;
        case Failure::wrong_ack:
            return QK42_WRONG_ACK;
        case Failure::unknown_kind:
            return QK42_BAD_KIND;
        case Failure::line_closed:
        case Failure::no_port:  // a handle always has its port; closed is the nearest meaning
            return QK42_LINE_CLOSED;
    }
    return QK42_LINE_CLOSED;
}

}  // namespace qk42rt::host

extern "C" const char* QK42_CALL qk42_status_name(qk42_status status) QK42_NOTHROW {
    switch (status) {
        case QK42_OK:
            return "ok";
        case QK42_NO_REPLY:
            return "no_reply";
        case QK42_SHORT_REPLY:
            return "short_reply";
        case QK42_WRONG_ACK:
            return "wrong_ack";
        case QK42_BAD_KIND:
            return "bad_kind";
        case QK42_CANNOT_OPEN:
            return "cannot_open";
        case QK42_SETTINGS_REFUSED:
            return "settings_refused";
        case QK42_LINE_CLOSED:
            return "line_closed";
        case QK42_BAD_ARGUMENT:
            return "bad_argument";
    }
    return "unknown";
}

#include "platform/sleep.h"

#include <cerrno>
#include <time.h>

void sleepMilliseconds(unsigned milliseconds) {
    struct timespec remaining = {time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    // A signal cuts the sleep short; finish the rest of it.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

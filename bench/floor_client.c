/* The least a correct client of the bridge can do with the system: it starts
 * the exchange like every client (client_start.h), then makes exactly the
 * calls the launcher's design requires and nothing more. It receives 8,192
 * bytes at a time, gathers each body line whole (a frame can only be decoded
 * once all of it has arrived) and writes each line with one write of its own,
 * the way the launcher writes each chunk that holds a line feed. The lines
 * are written raw: no JSON, Base64 or UTF-8 work. The header section is
 * skipped up to its empty line.
 *
 * A line is gathered where it was received: the next receive goes straight
 * after its bytes, and only a partial line left behind by a receive is moved
 * to the front of the buffer. Linked statically, like the bare client.
 *
 * Exit status: 0 after the bridge closed the connection (a last line without
 * a line feed is written too), 70 when a variable is missing or anything
 * fails on the way. */

#define _GNU_SOURCE
#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "client_start.h"

enum {
    kReceiveBytes = 8192,
    /* The longest body the bridge may send, the header section and one
     * receive beyond: every line fits. Pages are only touched as used. */
    kBufferBytes = 12 * 1024 * 1024 + 8 * kReceiveBytes,
};

static char buffer[kBufferBytes];

static int copy_lines(int fd) {
    size_t start = 0;   /* the first byte of the line being gathered */
    size_t scanned = 0; /* bytes before this hold no line feed of that line */
    size_t end = 0;
    int in_body = 0;
    for (;;) {
        if (start > 0) {
            memmove(buffer, buffer + start, end - start);
            end -= start;
            scanned -= start;
            start = 0;
        }
        if (end + kReceiveBytes > kBufferBytes) return 0;
        const ssize_t n = recv(fd, buffer + end, kReceiveBytes, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return 0;
        if (n == 0) return in_body && write_all(1, buffer + start, end - start);
        end += (size_t)n;
        if (!in_body) {
            const char* head_end = memmem(buffer, end, "\r\n\r\n", 4);
            if (head_end == NULL) continue;
            start = scanned = (size_t)(head_end - buffer) + 4;
            in_body = 1;
        }
        const char* feed;
        while ((feed = memchr(buffer + scanned, '\n', end - scanned)) != NULL) {
            const size_t next = (size_t)(feed - buffer) + 1;
            if (!write_all(1, buffer + start, next - start)) return 0;
            start = scanned = next;
        }
        scanned = end;
    }
}

int main(void) {
    const int fd = start_exchange();
    if (fd < 0) return kClientFailureStatus;
    return copy_lines(fd) ? 0 : kClientFailureStatus;
}

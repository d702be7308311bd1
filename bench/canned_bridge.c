/* A stand-in bridge for the process benchmark: it answers every connection
 * on 127.0.0.1 with the same prepared HTTP response, as cheaply as it can, so
 * that its own cost is small and identical for every client being timed.
 *
 * Usage: canned_bridge RESPONSE_FILE [PORT]
 *
 * RESPONSE_FILE holds the complete response (status line, headers with
 * Content-Length, body); it is read into memory once. Without PORT (or with
 * 0) the kernel picks a free port. The port is printed on standard output as
 * one line, then standard output is closed, so a script can read it and go
 * on. Per connection: read the request head, read as many body bytes as its
 * Content-Length says, write the whole response, close. One connection at a
 * time; the process runs until it is killed. */

#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

enum {
    kRequestBufferBytes = 64 * 1024,
    kListenBacklog = 64,
    /* A client that connects and then says nothing must not stall the
     * benchmark forever. */
    kReceiveTimeoutSeconds = 5,
};

static void fail(const char* what) {
    const char* reason = strerror(errno);
    (void)!write(2, "canned_bridge: ", 15);
    (void)!write(2, what, strlen(what));
    (void)!write(2, ": ", 2);
    (void)!write(2, reason, strlen(reason));
    (void)!write(2, "\n", 1);
    exit(1);
}

static char* load_file(const char* path, size_t* size) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail(path);
    struct stat info;
    if (fstat(fd, &info) != 0) fail(path);
    char* bytes = malloc(info.st_size > 0 ? (size_t)info.st_size : 1);
    if (bytes == NULL) fail("malloc");
    size_t done = 0;
    while (done < (size_t)info.st_size) {
        const ssize_t n = read(fd, bytes + done, (size_t)info.st_size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(path);
        done += (size_t)n;
    }
    close(fd);
    *size = done;
    return bytes;
}

static unsigned parse_port(const char* text) {
    unsigned value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > 6553) {
            errno = EINVAL;
            fail("port");
        }
        value = value * 10 + (unsigned)(*p - '0');
    }
    if (value > 65535) {
        errno = EINVAL;
        fail("port");
    }
    return value;
}

static int listen_on_loopback(unsigned port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) fail("socket");
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) fail("setsockopt");
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((uint16_t)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, (struct sockaddr*)&address, sizeof address) != 0) fail("bind");
    if (listen(fd, kListenBacklog) != 0) fail("listen");
    return fd;
}

static void announce_port(int listener) {
    struct sockaddr_in address;
    socklen_t size = sizeof address;
    if (getsockname(listener, (struct sockaddr*)&address, &size) != 0) fail("getsockname");
    char line[8];
    size_t length = 0;
    char digits[6];
    size_t count = 0;
    for (unsigned port = ntohs(address.sin_port); count == 0 || port > 0; port /= 10)
        digits[count++] = (char)('0' + port % 10);
    while (count > 0)
        line[length++] = digits[--count];
    line[length++] = '\n';
    if (write(1, line, length) != (ssize_t)length) fail("stdout");
    /* Whoever reads the port sees end of file now and need not wait for us. */
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd < 0 || dup2(null_fd, 1) < 0) fail("/dev/null");
    close(null_fd);
}

static int lower(int c) {
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

/* The value of the first Content-Length header in `head`, 0 if there is none.
 * Only as much parsing as it takes to know how many body bytes follow. */
static uint64_t content_length(const char* head, size_t size) {
    static const char kName[] = "\ncontent-length:";
    const size_t name_length = sizeof kName - 1;
    for (size_t i = 0; i + name_length <= size; ++i) {
        size_t k = 0;
        while (k < name_length && lower((unsigned char)head[i + k]) == kName[k])
            ++k;
        if (k < name_length) continue;
        size_t p = i + name_length;
        while (p < size && (head[p] == ' ' || head[p] == '\t' || head[p] == '+'))
            ++p;
        uint64_t value = 0;
        while (p < size && head[p] >= '0' && head[p] <= '9')
            value = value * 10 + (uint64_t)(head[p++] - '0');
        return value;
    }
    return 0;
}

static const char* find_head_end(const char* bytes, size_t size) {
    for (size_t i = 0; i + 4 <= size; ++i)
        if (memcmp(bytes + i, "\r\n\r\n", 4) == 0) return bytes + i + 4;
    return NULL;
}

/* Reads the request head and its body; false if the client went away or
 * sent something that is not a request. */
static int read_request(int fd, char* buffer) {
    size_t have = 0;
    const char* head_end = NULL;
    while (head_end == NULL) {
        if (have == kRequestBufferBytes) return 0;
        const ssize_t n = recv(fd, buffer + have, kRequestBufferBytes - have, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        /* The terminator may straddle two receives. */
        const size_t from = have >= 3 ? have - 3 : 0;
        have += (size_t)n;
        head_end = find_head_end(buffer + from, have - from);
    }
    const size_t head_size = (size_t)(head_end - buffer);
    uint64_t body_left = content_length(buffer, head_size);
    const size_t body_here = have - head_size;
    body_left = body_here >= body_left ? 0 : body_left - body_here;
    while (body_left > 0) {
        const size_t want =
            body_left < kRequestBufferBytes ? (size_t)body_left : kRequestBufferBytes;
        const ssize_t n = recv(fd, buffer, want, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        body_left -= (uint64_t)n;
    }
    return 1;
}

static void send_response(int fd, const char* bytes, size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, bytes, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        size -= (size_t)n;
    }
}

static void serve_forever(int listener, const char* response, size_t response_size) {
    static char request[kRequestBufferBytes];
    const struct timeval limit = {kReceiveTimeoutSeconds, 0};
    for (;;) {
        const int fd = accept4(listener, NULL, NULL, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            fail("accept");
        }
        if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 &&
            read_request(fd, request))
            send_response(fd, response, response_size);
        close(fd);
    }
}

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        static const char kUsage[] = "usage: canned_bridge RESPONSE_FILE [PORT]\n";
        (void)!write(2, kUsage, sizeof kUsage - 1);
        return 2;
    }
    size_t response_size = 0;
    const char* response = load_file(argv[1], &response_size);
    const int listener = listen_on_loopback(argc == 3 ? parse_port(argv[2]) : 0);
    announce_port(listener);
    serve_forever(listener, response, response_size);
    return 0;
}

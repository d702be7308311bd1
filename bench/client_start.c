/* See client_start.h. */

#define _GNU_SOURCE
#include "client_start.h"

#include <errno.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

static const char kEndpointPrefix[] = "http://127.0.0.1:";
static const char kBody[] = "{\"protocol_version\":1,\"kind\":\"core_cli_invoke\",\"argv\":[]}";

int write_all(int fd, const char* bytes, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        bytes += n;
        size -= (size_t)n;
    }
    return 1;
}

static struct iovec piece(const char* text, size_t size) {
    struct iovec v = {(void*)text, size};
    return v;
}

#define LITERAL(text) piece(text, sizeof text - 1)

/* The request head and body, sent with one gathered write. The port and path
 * come straight from the endpoint text, which is trusted here. */
static int send_request(int fd, const char* port, size_t port_size, const char* path,
                        const char* token) {
    struct iovec pieces[] = {
        LITERAL("POST "),
        piece(path, strlen(path)),
        LITERAL(" HTTP/1.1\r\nHost: 127.0.0.1:"),
        piece(port, port_size),
        LITERAL("\r\nContent-Type: application/json\r\nX-Velmot-Plugin-Cli-Token: "),
        piece(token, strlen(token)),
        LITERAL("\r\nContent-Length: 57\r\nConnection: close\r\n\r\n"),
        LITERAL(kBody),
    };
    size_t total = 0;
    for (size_t i = 0; i < sizeof pieces / sizeof pieces[0]; ++i)
        total += pieces[i].iov_len;
    return writev(fd, pieces, sizeof pieces / sizeof pieces[0]) == (ssize_t)total;
}

static int connect_to(unsigned port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, (struct sockaddr*)&address, sizeof address) != 0) return -1;
    return fd;
}

int start_exchange(void) {
    const char* endpoint = getenv("VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT");
    const char* token = getenv("VELMOT_INTERNAL_PLUGIN_CLI_TOKEN");
    const size_t prefix_size = sizeof kEndpointPrefix - 1;
    if (endpoint == NULL || token == NULL || strncmp(endpoint, kEndpointPrefix, prefix_size) != 0)
        return -1;
    const char* port = endpoint + prefix_size;
    const char* path = port;
    unsigned port_number = 0;
    while (*path >= '0' && *path <= '9')
        port_number = port_number * 10 + (unsigned)(*path++ - '0');
    const int fd = connect_to(port_number);
    if (fd < 0 || !send_request(fd, port, (size_t)(path - port), path, token)) return -1;
    return fd;
}

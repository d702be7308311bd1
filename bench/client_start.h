/* The start every benchmark client shares with the launcher: read the two
 * bridge variables, connect to 127.0.0.1 and send one fixed request with a
 * single gathered write. What a client then does with the response is its
 * own; see bare_client.c and floor_client.c. */
#pragma once

#include <stddef.h>

enum { kClientFailureStatus = 70 };

/* Returns the connected socket once the whole request has gone out, or -1
 * when a variable is missing or anything fails on the way. No validation
 * beyond what finding the port needs, no time limits. */
int start_exchange(void);

/* Writes every byte to `fd`, repeating after a signal; 0 on any error. */
int write_all(int fd, const char* bytes, size_t size);

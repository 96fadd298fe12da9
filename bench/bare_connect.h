/* The yardstick for a TCP port test: what a C program pays to learn that a
 * port accepts connections, with nothing between it and the kernel. */
#ifndef KESTNET_BENCH_BARE_CONNECT_H_
#define KESTNET_BENCH_BARE_CONNECT_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A non-blocking connect to 127.0.0.1:port, a poll for the outcome (at most
 * timeout_ms), a close. Returns 1 when the port accepted the connection. */
int BareConnectTest(uint16_t port, int timeout_ms);

#ifdef __cplusplus
}
#endif

#endif /* KESTNET_BENCH_BARE_CONNECT_H_ */

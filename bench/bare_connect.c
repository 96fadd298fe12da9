/* The yardstick for a TCP port test (see bare_connect.h). */
#include "bare_connect.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

int BareConnectTest(uint16_t port, int timeout_ms) {
  struct sockaddr_in address = {0};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  int accepted = connect(fd, (struct sockaddr*)&address, sizeof(address)) == 0;
  if (!accepted && errno == EINPROGRESS) {
    struct pollfd waiter = {fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof(error);
    accepted = poll(&waiter, 1, timeout_ms) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
               error == 0;
  }
  close(fd);
  return accepted;
}

// Running part of a test as a second, unprivileged account ("nobody"), in a
// child process, to prove what another account can and cannot do to us.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestnet::testing {

constexpr uid_t kNobody = 65534;

// Whether this process may become another account (tests skip without it).
inline bool CanActAsSecondAccount() { return ::geteuid() == 0; }

// Forks; the child exits with body()'s result. Returns the child's pid.
template <typename Body>
pid_t StartChild(Body body) {
  pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  return child;
}

// As StartChild, the child first dropping to nobody (groups, gid, uid); 100
// if it could not drop its rights.
template <typename Body>
pid_t StartAsNobody(Body body) {
  return StartChild([&body] {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
        ::setresuid(kNobody, kNobody, kNobody) != 0) {
      return 100;
    }
    return body();
  });
}

// The exit status of a child, 128 + signal when a signal ended it.
inline int WaitForChild(pid_t child) {
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A pipe a child uses to say it is ready and the parent to let it go.
class Handshake {
 public:
  Handshake() {
    if (::pipe(ready_) != 0 || ::pipe(go_) != 0) ready_[0] = -1;
  }
  ~Handshake() {
    for (int fd : {ready_[0], ready_[1], go_[0], go_[1]}) {
      if (fd >= 0) ::close(fd);
    }
  }
  Handshake(const Handshake&) = delete;
  Handshake& operator=(const Handshake&) = delete;

  // In the parent after the fork: a child that ends without a word then
  // reads as not ready instead of leaving the parent waiting.
  void KeepParentEnds() {
    ::close(ready_[1]);
    ::close(go_[0]);
    ready_[1] = go_[0] = -1;
  }
  void SignalReady() { Write(ready_[1]); }
  bool WaitReady() { return Read(ready_[0]); }
  void LetGo() { Write(go_[1]); }
  void WaitToGo() { Read(go_[0]); }

 private:
  static void Write(int fd) {
    char byte = 1;
    (void)!::write(fd, &byte, 1);
  }
  static bool Read(int fd) {
    char byte = 0;
    return ::read(fd, &byte, 1) == 1;
  }
  int ready_[2] = {-1, -1};
  int go_[2] = {-1, -1};
};

}  // namespace kestnet::testing

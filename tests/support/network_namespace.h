// A private network namespace for tests that need their own port 53 or
// addresses nobody else uses.
//
// Enter moves the calling thread into a new network namespace whose loopback
// interface is up. Threads and processes the calling thread starts afterwards
// (query threads, helper servers) are inside it too; threads that already
// existed are not, so enter before starting anything that opens sockets.
// Nothing inside can reach the machine's network: only 127.0.0.0/8 exists.
//
// As root the namespace belongs to the thread alone and Leave (or the
// destructor) returns the thread to the namespace it came from, so one
// process can run many tests, each in a fresh namespace. Without root the
// namespace is made inside a new user namespace, which the kernel allows only
// while the process has a single thread and which cannot be left again: the
// process then stays in it for the rest of its life (harmless for a test
// process, which needs nothing outside loopback). When neither works, Enter
// explains why and the test should skip.
#pragma once

#include <string>

namespace kestnet::testing {

class NetworkNamespace {
 public:
  NetworkNamespace() = default;
  ~NetworkNamespace();
  NetworkNamespace(const NetworkNamespace&) = delete;
  NetworkNamespace& operator=(const NetworkNamespace&) = delete;

  // True when the calling thread is now in a private namespace with loopback
  // up; otherwise false with the reason in p_error.
  bool Enter(std::string& p_error);
  // Returns the thread to its previous namespace where that is possible.
  void Leave();
  bool IsEntered() const { return m_bEntered; }

 private:
  int m_previousNamespace = -1;
  bool m_bEntered = false;
};

// Brings the loopback interface of the calling thread's namespace up.
bool BringLoopbackUp(std::string& p_error);

}  // namespace kestnet::testing

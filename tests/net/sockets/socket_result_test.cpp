#include "net/sockets/socket_result.h"

#include <string>

#include <gtest/gtest.h>

namespace KestNet {
namespace {

// The listed translations are exercised by the socket tests through real
// failures; what no real failure reaches is the fallback of both tables.
TEST(SocketResult, UnlistedErrorIsGenericAndUnlistedCodeIsUnknown) {
  EXPECT_EQ(TranslateSocketError(13), SOCKET_GENERIC_ERROR);
  EXPECT_EQ(TranslateSocketError(-1), SOCKET_GENERIC_ERROR);
  EXPECT_EQ(std::string(SocketResultName(SOCKET_CONNECT_REFUSED)), "SOCKET_CONNECT_REFUSED");
  EXPECT_EQ(std::string(SocketResultName(12)), "UNKNOWN");
}

}  // namespace
}  // namespace KestNet

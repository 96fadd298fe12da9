#include "net/sockets/socket_result.h"

#include <string>

#include <gtest/gtest.h>

namespace KestNet {
namespace {

struct TranslationCase {
  int winsockError;
  DWORD result;
};

class SocketErrorTranslation : public ::testing::TestWithParam<TranslationCase> {};

TEST_P(SocketErrorTranslation, GivesTheResultCodeOfTheTable) {
  EXPECT_EQ(TranslateSocketError(GetParam().winsockError), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    WinsockErrors, SocketErrorTranslation,
    ::testing::Values(
        TranslationCase{0, SOCKET_NO_ERROR}, TranslationCase{10093, SOCKET_OS_LAYER_NOT_INITIALIZED},
        TranslationCase{10024, SOCKET_OS_FAILURE}, TranslationCase{10038, SOCKET_OS_FAILURE},
        TranslationCase{10047, SOCKET_OS_FAILURE}, TranslationCase{10050, SOCKET_OS_FAILURE},
        TranslationCase{10052, SOCKET_OS_FAILURE}, TranslationCase{10055, SOCKET_OS_FAILURE},
        TranslationCase{10048, SOCKET_ADDR_IN_USE}, TranslationCase{10022, SOCKET_INVALID_STATE},
        TranslationCase{10036, SOCKET_INVALID_STATE}, TranslationCase{10058, SOCKET_INVALID_STATE},
        TranslationCase{10039, SOCKET_INVALID_ARG}, TranslationCase{10041, SOCKET_INVALID_ARG},
        TranslationCase{10043, SOCKET_INVALID_ARG}, TranslationCase{10049, SOCKET_DEST_UNREACHABLE},
        TranslationCase{10051, SOCKET_DEST_UNREACHABLE}, TranslationCase{10053, SOCKET_TIMEOUT},
        TranslationCase{10054, SOCKET_TIMEOUT}, TranslationCase{10035, SOCKET_WOULD_BLOCK},
        TranslationCase{10040, SOCKET_MESSAGE_TOO_LONG},
        // Refusal and time-out are deliberately generic; nothing gives
        // SOCKET_CONNECT_REFUSED.
        TranslationCase{10061, SOCKET_GENERIC_ERROR}, TranslationCase{10060, SOCKET_GENERIC_ERROR},
        TranslationCase{13, SOCKET_GENERIC_ERROR}, TranslationCase{10107, SOCKET_GENERIC_ERROR},
        TranslationCase{-1, SOCKET_GENERIC_ERROR}));

TEST(SocketResultNames, NameEveryCodeAndOnlyThose) {
  EXPECT_EQ(std::string(SocketResultName(SOCKET_NO_ERROR)), "SOCKET_NO_ERROR");
  EXPECT_EQ(std::string(SocketResultName(SOCKET_TIMEOUT)), "SOCKET_TIMEOUT");
  EXPECT_EQ(std::string(SocketResultName(SOCKET_CONNECT_REFUSED)), "SOCKET_CONNECT_REFUSED");
  EXPECT_EQ(std::string(SocketResultName(12)), "UNKNOWN");
  EXPECT_EQ(SOCKET_TIMEOUT, 9u);
  EXPECT_EQ(SOCKET_WOULD_BLOCK, 10u);
}

}  // namespace
}  // namespace KestNet

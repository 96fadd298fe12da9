// The method guard's exact log lines, read back from the log ring. Each case
// runs in a fresh process (a death-test child) with its own KESTNET_HOME, so
// the logger it starts is its own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "automation/method_guard.h"
#include "platform/os/home.h"
#include "platform/sync/named_objects.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/log_ring_reader.h"

namespace {

struct ExpectedLine {
  unsigned level;
  const char* message;
};

const KestAXLib::ObjectIdentity kWho{"KestNetX::IProbe", "ProbeObject", nullptr};

// Child side: runs body, then compares the newest ring entries of kWho's
// class with expected; exits 0 when they match, 1 (with the difference on
// standard error) when not.
template <typename Body>
[[noreturn]] void CheckLinesInThisProcess(Body body, const std::vector<ExpectedLine>& expected) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestnet-guardlog-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::_Exit(2);
  ::setenv("KESTNET_HOME", pattern.c_str(), 1);
  Log("KestNetX::Test", kLogLevelInformation, "start");  // starts this process's logger
  body();
  std::unique_ptr<KestLog::LogRingReader> reader = KestLog::LogRingReader::OpenExisting();
  int status = 0;
  if (reader == nullptr) {
    std::fprintf(stderr, "no log ring\n");
    status = 1;
  } else {
    std::vector<KestLog::LogEntry> mine;
    for (const KestLog::LogEntry& entry : reader->ReadNewest(64).entries) {
      if (std::strcmp(entry.className, kWho.className) == 0) mine.push_back(entry);
    }
    if (mine.size() != expected.size()) {
      std::fprintf(stderr, "%zu lines, expected %zu\n", mine.size(), expected.size());
      status = 1;
    }
    for (size_t i = 0; i < mine.size() && i < expected.size(); ++i) {
      if (mine[i].level != expected[i].level || std::strcmp(mine[i].message, expected[i].message) != 0) {
        std::fprintf(stderr, "line %zu: [%u] <%s>, expected [%u] <%s>\n", i, mine[i].level, mine[i].message,
                     expected[i].level, expected[i].message);
        status = 1;
      }
    }
  }
  reader.reset();
  // _Exit runs no exit handler: the ring goes with the scope's objects here.
  kestnet::platform::RemoveNamedObjects(kestnet::platform::NamedObjectScope());
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  std::_Exit(status);
}

class GuardLogTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(GuardLogTest, ASystemExceptionIsLoggedWithItsNameAndExtendedData) {
  EXPECT_EXIT(CheckLinesInThisProcess(
                  [] {
                    KestAXLib::GuardedMethod(kWho, "put_Timeout", [] {
                      KestAXLib::RejectArgument(kWho,
                                                "put_Timeout():  Error - Invalid Timeout Parameter.  Timeouts must be "
                                                "in the range of 500 to 30000 ms.");
                    });
                  },
                  {{1,
                    "put_Timeout():  Error - Invalid Timeout Parameter.  Timeouts must be in the range of 500 to "
                    "30000 ms."},
                   {1, "put_Timeout():  Exception - INVALID_ARG_ERROR.  Extended Data = <>"}}),
              ::testing::ExitedWithCode(0), "");
}

// The line the unhandled-exception message names is the guarded call's.
constexpr int kUnknownThrowLine = __LINE__ + 2;
void ThrowUnknownInAGuardedMethod() {
  KestAXLib::GuardedMethod(kWho, "Connect", [] { throw 7; });
}

TEST_F(GuardLogTest, AnUnknownExceptionLogsTheUnhandledLineWithFileAndLine) {
  const std::string unhandled =
      "Unhandled unknown exception detected. File: ProbeObject Line: " + std::to_string(kUnknownThrowLine) + ".";
  EXPECT_EXIT(CheckLinesInThisProcess(ThrowUnknownInAGuardedMethod,
                                      {{4, "Connect():  Exception - Unknown."}, {0, unhandled.c_str()}}),
              ::testing::ExitedWithCode(0), "");
}

TEST_F(GuardLogTest, AnAtlExceptionIsUnknownInMethodsAndAnHresultInCallbacks) {
  EXPECT_EXIT(CheckLinesInThisProcess(
                  [] {
                    KestAXLib::GuardedMethod(kWho, "get_Server", [] { ATL::AtlThrow(E_OUTOFMEMORY); });
                    KestAXLib::GuardedCallback(kWho, "OnPOP3Connected", [] { ATL::AtlThrow(E_OUTOFMEMORY); });
                  },
                  {{1, "get_Server():  Exception - Unknown."},
                   {1, "OnPOP3Connected():  Exception - HRESULT = <0x8007000E>"}}),
              ::testing::ExitedWithCode(0), "");
}

TEST_F(GuardLogTest, ABadOutputPointerIsLoggedBeforeTheNullPointerError) {
  EXPECT_EXIT(CheckLinesInThisProcess(
                  [] {
                    KestAXLib::GuardedMethod(kWho, "get_Timeout",
                                             [] { KestAXLib::CheckOutputPointer(kWho, "get_Timeout", nullptr); });
                  },
                  {{1, "get_Timeout():  Error - Invalid Return Parameter."},
                   {1, "get_Timeout():  Exception - NULL_POINTER_ERROR.  Extended Data = <>"}}),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace

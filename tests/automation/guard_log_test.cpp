// The method guard's exact log lines, as the process's logger writes them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "automation/method_guard.h"
#include "runtime/exceptions.h"
#include "tests/support/log_capture.h"
#include "tests/support/temporary_directory.h"

namespace {

using kestnet::testing::LoggedLine;

const KestAXLib::ObjectIdentity kWho{"KestNetX::IProbe", "ProbeObject", nullptr};

class GuardLogTest : public ::testing::Test {
 protected:
  // The lines logged under kWho's class since the last call, as level and message.
  std::vector<LoggedLine> Lines() { return m_capture.TakeLines(); }
  static LoggedLine Line(unsigned p_level, std::string p_message) {
    return LoggedLine{kWho.className, p_level, std::move(p_message)};
  }

  kestnet::testing::TemporaryHome m_home;
  kestnet::testing::LogCapture m_capture{kWho.className};
};

TEST_F(GuardLogTest, ASystemExceptionIsLoggedWithItsNameAndExtendedData) {
  KestAXLib::GuardedMethod(kWho, "put_Timeout", [] {
    KestAXLib::RejectArgument(kWho,
                              "put_Timeout():  Error - Invalid Timeout Parameter.  Timeouts must be in the range of "
                              "500 to 30000 ms.");
  });
  EXPECT_EQ(Lines(), (std::vector<LoggedLine>{
                         Line(1, "put_Timeout():  Error - Invalid Timeout Parameter.  Timeouts must be in the range "
                                 "of 500 to 30000 ms."),
                         Line(1, "put_Timeout():  Exception - INVALID_ARG_ERROR.  Extended Data = <>")}));
}

// The line the unhandled-exception message names is the guarded call's.
constexpr int kUnknownThrowLine = __LINE__ + 2;
void ThrowUnknownInAGuardedMethod() {
  KestAXLib::GuardedMethod(kWho, "Connect", [] { throw 7; });
}

TEST_F(GuardLogTest, AnUnknownExceptionLogsTheUnhandledLineWithFileAndLine) {
  ThrowUnknownInAGuardedMethod();
  EXPECT_EQ(Lines(), (std::vector<LoggedLine>{
                         Line(4, "Connect():  Exception - Unknown."),
                         Line(0, "Unhandled unknown exception detected. File: ProbeObject Line: " +
                                     std::to_string(kUnknownThrowLine) + ".")}));
}

TEST_F(GuardLogTest, AnAtlExceptionIsUnknownInMethodsAndAnHresultInCallbacks) {
  KestAXLib::GuardedMethod(kWho, "get_Server", [] { ATL::AtlThrow(E_OUTOFMEMORY); });
  KestAXLib::GuardedCallback(kWho, "OnPOP3Connected", [] { ATL::AtlThrow(E_OUTOFMEMORY); });
  EXPECT_EQ(Lines(), (std::vector<LoggedLine>{Line(1, "get_Server():  Exception - Unknown."),
                                              Line(1, "OnPOP3Connected():  Exception - HRESULT = <0x8007000E>")}));
}

TEST_F(GuardLogTest, ABadOutputPointerIsLoggedBeforeTheNullPointerError) {
  KestAXLib::GuardedMethod(kWho, "get_Timeout", [] { KestAXLib::CheckOutputPointer(kWho, "get_Timeout", nullptr); });
  EXPECT_EQ(Lines(), (std::vector<LoggedLine>{
                         Line(1, "get_Timeout():  Error - Invalid Return Parameter."),
                         Line(1, "get_Timeout():  Exception - NULL_POINTER_ERROR.  Extended Data = <>")}));
}

}  // namespace

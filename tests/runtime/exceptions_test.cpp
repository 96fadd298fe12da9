#include "runtime/exceptions.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "platform/os/last_error.h"
#include "runtime/mt_log.h"
#include "tests/runtime/log_test_support.h"

namespace {

struct SimpleClass {
  std::wstring errorName;
  std::string qualifiedName;
  std::wstring (*build)();
};

template <typename E>
std::wstring NameOfThrown() {
  try {
    throw E();
  } catch (const KestBase::BaseException& caught) {
    return caught.GetErrorName() + (caught.GetExtendedData().empty() ? L"" : L"+data");
  }
}

#define KEST_TEST_ROW(Namespace, Class, ErrorName) \
  {ErrorName, #Namespace "::" #Class, &NameOfThrown<Namespace::Class>},

// The table the system fixes, written out again by hand so that a slip in
// the declaring table shows up here.
TEST(ExceptionsTest, EverySimpleClassCarriesItsFixedNameAndNoData) {
  const std::vector<SimpleClass> declared = {KESTBASE_SIMPLE_EXCEPTIONS(KEST_TEST_ROW)
                                                 KESTMT_SIMPLE_EXCEPTIONS(KEST_TEST_ROW)
                                                     KESTUTILS_SIMPLE_EXCEPTIONS(KEST_TEST_ROW)};
  const std::vector<std::pair<std::wstring, std::string>> expected = {
      {L"INVALID_ARG_ERROR", "KestBase::InvalidParameterException"},
      {L"NULL_POINTER_ERROR", "KestBase::NullPointerException"},
      {L"INVALID_OBJECT_ERROR", "KestBase::InvalidObjectException"},
      {L"INVALID_OPERATION_ERROR", "KestBase::InvalidOperationException"},
      {L"OUT_OF_MEMORY_ERROR", "KestBase::OutOfMemoryException"},
      {L"UNSUPPORTED_OS_ERROR", "KestBase::UnsupportedOSException"},
      {L"UNKNOWN_EXCEPTION_ERROR", "KestBase::UnknownException"},
      {L"STRING_CONVERSION_ERROR", "KestBase::StringConversionException"},
      {L"KESTBASEKERNELOBJECT_INVALIDNAME_ERROR", "KestBase::KernelObjectNameInvalidException"},
      {L"THREAD_ABORT_EXCEPTION", "KestMT::ThreadAbortException"},
      {L"THREAD_DEADLOCK_EXCEPTION", "KestMT::ThreadDeadlockException"},
      {L"AUTOLOCK_TIMEOUT_EXCEPTION_ERROR", "KestMT::AutoLockTimeoutException"},
      {L"KESTUTILSPLATFORM_GETVERSION_ERROR", "KestUtils::GetOSVersionException"},
      {L"KESTUTILSREGISTRY_OPENKEY_ERROR", "KestUtils::RegOpenKeyException"},
      {L"KESTUTILSREGISTRY_CREATEKEY_ERROR", "KestUtils::RegCreateKeyException"},
      {L"KESTUTILSREGISTRY_SETVALUE_ERROR", "KestUtils::RegSetValueException"},
      {L"KESTUTILSREGISTRY_QUERYVALUE_ERROR", "KestUtils::RegQueryValueException"},
      {L"KESTUTILSREGISTRY_VALUETYPEMISTMATCH_ERROR", "KestUtils::RegValueTypeMismatch"},
      {L"KESTUTILSREGISTRY_KEYPATHSIZE_ERROR", "KestUtils::RegKeyPathSizeException"},
  };
  ASSERT_EQ(declared.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].second);
    EXPECT_EQ(declared[i].errorName, expected[i].first);
    EXPECT_EQ(declared[i].qualifiedName, expected[i].second);
    // Thrown and caught as the base: the name survives, the data stays empty.
    EXPECT_EQ(declared[i].build(), expected[i].first);
  }
}

TEST(ExceptionsTest, ExceptionsAreCopyableValuesWithOneVirtualAccessor) {
  static_assert(std::is_copy_constructible_v<KestBase::BaseException>);
  static_assert(std::is_copy_assignable_v<KestBase::HRESULTException>);
  static_assert(std::is_polymorphic_v<KestBase::BaseException>);

  KestBase::HRESULTException original(static_cast<LONG>(0x80070005), "mail.cpp", 12);
  KestBase::HRESULTException copy = original;
  const KestBase::BaseException& asBase = copy;
  EXPECT_EQ(asBase.GetErrorName(), L"HRESULT_ERROR");
  EXPECT_EQ(asBase.GetExtendedData(), original.GetExtendedData());
  EXPECT_EQ(copy.GetHRESULT(), original.GetHRESULT());
}

TEST(ExceptionsTest, GenericExceptionCarriesTheThrowersName) {
  KestBase::GenericException generic(L"KESTSYSFPS_SHARE_ERROR");
  EXPECT_EQ(generic.GetErrorName(), L"KESTSYSFPS_SHARE_ERROR");
  EXPECT_EQ(generic.GetExtendedData(), "");
}

TEST(ExceptionsTest, HresultExceptionFormatsFileLineAndCodeAndKeepsThemAsFields) {
  KestBase::HRESULTException error(static_cast<LONG>(0x8000FFFF), ".\\Thread.cpp", 4294967295u);
  EXPECT_EQ(error.GetExtendedData(),
            "File - .\\Thread.cpp, Line - 4294967295, HRESULT = 0x8000ffff");
  EXPECT_EQ(static_cast<std::uint32_t>(error.GetHRESULT()), 0x8000FFFFu);
  EXPECT_EQ(error.GetFile(), ".\\Thread.cpp");
  EXPECT_EQ(error.GetLine(), 4294967295u);

  KestBase::HRESULTException small(1, "x.cpp", 7);
  EXPECT_EQ(small.GetExtendedData(), "File - x.cpp, Line - 7, HRESULT = 0x00000001");

  KestBase::HRESULTException noFile(0, nullptr, 0);
  EXPECT_EQ(noFile.GetExtendedData(), "File - , Line - 0, HRESULT = 0x00000000");
}

TEST(ExceptionsTest, LastErrorClassesCaptureTheErrorAtConstruction) {
  SetLastError(ERROR_ACCESS_DENIED);
  KestBase::Win32ErrorException denied("share.cpp", 40);
  SetLastError(ERROR_FILE_NOT_FOUND);
  KestBase::Win32ErrorException missing("share.cpp", 41);
  KestBase::SecurityException security("token.cpp", 9);
  SetLastError(ERROR_SUCCESS);  // later changes do not reach the captured copies

  EXPECT_EQ(denied.GetErrorName(), L"SECURITY_ERROR");
  EXPECT_EQ(denied.GetErrorCode(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(denied.GetExtendedData(), "File - share.cpp, Line - 40, GetLastError = 5");

  EXPECT_EQ(missing.GetErrorName(), L"WIN32_ERROR");
  EXPECT_EQ(missing.GetErrorCode(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing.GetFile(), "share.cpp");
  EXPECT_EQ(missing.GetLine(), 41u);
  EXPECT_EQ(missing.GetExtendedData(), "File - share.cpp, Line - 41, GetLastError = 2");

  EXPECT_EQ(security.GetErrorName(), L"SECURITY_ERROR");
  EXPECT_EQ(security.GetErrorCode(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(security.GetExtendedData(), "File - token.cpp, Line - 9, GetLastError = 2");
}

TEST(ExceptionsTest, ThrowLoggedSaysWhatItThrowsFromWhereThenThrowsIt) {
  KestLogTest::DebugOutputCapture output;
  int line = 0;
  try {
    line = __LINE__ + 1;
    KestMT::ThrowLogged<KestBase::InvalidObjectException>("KestMT::Mutex");
  } catch (const KestBase::InvalidObjectException& thrown) {
    EXPECT_EQ(thrown.GetErrorName(), L"INVALID_OBJECT_ERROR");
  }
  const std::vector<std::string> lines = output.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("[ ERROR ]"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("[ KestMT::Mutex ] "), std::string::npos) << lines[0];
  // The file is named without its directory: no build path reaches a log.
  EXPECT_NE(lines[0].find("[ Msg: Throwing KestBase::InvalidObjectException exception type. File: "
                          "exceptions_test.cpp Line: " +
                          std::to_string(line) + ". ]"),
            std::string::npos)
      << lines[0];
}

}  // namespace

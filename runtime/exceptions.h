// The exception hierarchy every library of KestNetX throws.
//
// A failure inside a library is an object rooted at KestBase::BaseException: a
// wide error name fixed by the class ("INVALID_ARG_ERROR") and a narrow
// extended-data text that only a few classes fill. Exceptions are plain
// copyable values with no cause chain; the automation layer turns the error
// name into the error description of the failed call.
//
// The simple classes (no constructor arguments, empty extended data) are
// written once in the tables below; each class also knows its qualified name,
// which the threading library quotes in "Throwing %s exception type." lines.
#pragma once

#include <string>
#include <utility>

#include "platform/os/win_types.h"

namespace KestBase {

class BaseException {
 public:
  explicit BaseException(std::wstring errorName, std::string extendedData = {});
  virtual ~BaseException();

  BaseException(const BaseException&) = default;
  BaseException& operator=(const BaseException&) = default;
  BaseException(BaseException&&) noexcept = default;
  BaseException& operator=(BaseException&&) noexcept = default;

  // The wide error name, e.g. L"INVALID_ARG_ERROR".
  const std::wstring& GetErrorName() const { return m_errorName; }

  // A copy of the extended data (empty unless the subclass fills it).
  virtual std::string GetExtendedData() const;

 private:
  std::wstring m_errorName;
  std::string m_extendedData;
};

// Thrown with an error name chosen by the thrower.
class GenericException : public BaseException {
 public:
  static constexpr const char* kQualifiedName = "KestBase::GenericException";
  explicit GenericException(std::wstring errorName) : BaseException(std::move(errorName)) {}
};

// A failed COM call: keeps the HRESULT, the thrower's source file and line, and
// the text "File - <file>, Line - <line>, HRESULT = 0x<hr>".
class HRESULTException : public BaseException {
 public:
  static constexpr const wchar_t* kErrorName = L"HRESULT_ERROR";
  static constexpr const char* kQualifiedName = "KestBase::HRESULTException";
  HRESULTException(LONG hr, const char* sourceFile, ULONG line);

  LONG GetHRESULT() const { return m_hr; }
  const std::string& GetFile() const { return m_file; }
  ULONG GetLine() const { return m_line; }

 private:
  LONG m_hr;
  std::string m_file;
  ULONG m_line;
};

// Base of the two classes that capture the thread's last OS error when they
// are built; the text is "File - <file>, Line - <line>, GetLastError = <error>".
class LastErrorException : public BaseException {
 public:
  DWORD GetErrorCode() const { return m_errorCode; }
  const std::string& GetFile() const { return m_file; }
  ULONG GetLine() const { return m_line; }

 protected:
  // errorName receives the captured error so that a class may choose its name by it.
  LastErrorException(std::wstring (*errorName)(DWORD capturedError), const char* sourceFile,
                     ULONG line);

 private:
  LastErrorException(DWORD capturedError, std::wstring (*errorName)(DWORD), const char* sourceFile,
                     ULONG line);

  DWORD m_errorCode;
  std::string m_file;
  ULONG m_line;
};

class SecurityException : public LastErrorException {
 public:
  static constexpr const wchar_t* kErrorName = L"SECURITY_ERROR";
  static constexpr const char* kQualifiedName = "KestBase::SecurityException";
  SecurityException(const char* sourceFile, ULONG line);
};

// "WIN32_ERROR", except that an access-denied failure (last error 5) is
// reported as "SECURITY_ERROR" so that callers treat it as a rights problem.
class Win32ErrorException : public LastErrorException {
 public:
  static constexpr const wchar_t* kErrorName = L"WIN32_ERROR";
  static constexpr const char* kQualifiedName = "KestBase::Win32ErrorException";
  Win32ErrorException(const char* sourceFile, ULONG line);
};

}  // namespace KestBase

// Declares a class that carries a fixed error name and nothing else.
#define KEST_DECLARE_SIMPLE_EXCEPTION(Namespace, Class, ErrorName)        \
  class Class : public KestBase::BaseException {                          \
   public:                                                                \
    static constexpr const wchar_t* kErrorName = ErrorName;               \
    static constexpr const char* kQualifiedName = #Namespace "::" #Class; \
    Class() : KestBase::BaseException(kErrorName) {}                      \
  };

#define KESTBASE_SIMPLE_EXCEPTIONS(X)                                \
  X(KestBase, InvalidParameterException, L"INVALID_ARG_ERROR")       \
  X(KestBase, NullPointerException, L"NULL_POINTER_ERROR")           \
  X(KestBase, InvalidObjectException, L"INVALID_OBJECT_ERROR")       \
  X(KestBase, InvalidOperationException, L"INVALID_OPERATION_ERROR") \
  X(KestBase, OutOfMemoryException, L"OUT_OF_MEMORY_ERROR")          \
  X(KestBase, UnsupportedOSException, L"UNSUPPORTED_OS_ERROR")       \
  X(KestBase, UnknownException, L"UNKNOWN_EXCEPTION_ERROR")          \
  X(KestBase, StringConversionException, L"STRING_CONVERSION_ERROR") \
  X(KestBase, KernelObjectNameInvalidException, L"KESTBASEKERNELOBJECT_INVALIDNAME_ERROR")

#define KESTMT_SIMPLE_EXCEPTIONS(X)                                \
  X(KestMT, ThreadAbortException, L"THREAD_ABORT_EXCEPTION")       \
  X(KestMT, ThreadDeadlockException, L"THREAD_DEADLOCK_EXCEPTION") \
  X(KestMT, AutoLockTimeoutException, L"AUTOLOCK_TIMEOUT_EXCEPTION_ERROR")

#define KESTUTILS_SIMPLE_EXCEPTIONS(X)                                              \
  X(KestUtils, GetOSVersionException, L"KESTUTILSPLATFORM_GETVERSION_ERROR")        \
  X(KestUtils, RegOpenKeyException, L"KESTUTILSREGISTRY_OPENKEY_ERROR")             \
  X(KestUtils, RegCreateKeyException, L"KESTUTILSREGISTRY_CREATEKEY_ERROR")         \
  X(KestUtils, RegSetValueException, L"KESTUTILSREGISTRY_SETVALUE_ERROR")           \
  X(KestUtils, RegQueryValueException, L"KESTUTILSREGISTRY_QUERYVALUE_ERROR")       \
  X(KestUtils, RegValueTypeMismatch, L"KESTUTILSREGISTRY_VALUETYPEMISTMATCH_ERROR") \
  X(KestUtils, RegKeyPathSizeException, L"KESTUTILSREGISTRY_KEYPATHSIZE_ERROR")

namespace KestBase {
KESTBASE_SIMPLE_EXCEPTIONS(KEST_DECLARE_SIMPLE_EXCEPTION)
}  // namespace KestBase

namespace KestMT {
KESTMT_SIMPLE_EXCEPTIONS(KEST_DECLARE_SIMPLE_EXCEPTION)
}  // namespace KestMT

namespace KestUtils {
KESTUTILS_SIMPLE_EXCEPTIONS(KEST_DECLARE_SIMPLE_EXCEPTION)
}  // namespace KestUtils

#include "runtime/exceptions.h"

#include <cstdio>

#include "platform/os/last_error.h"

namespace KestBase {
namespace {

// The two extended-data texts; snprintf into a buffer that always fits them
// (a file name is cut rather than the text lost).
std::string HresultText(const char* file, ULONG line, LONG hr) {
  char text[512];
  std::snprintf(text, sizeof text, "File - %s, Line - %lu, HRESULT = 0x%08x", file,
                static_cast<unsigned long>(line), static_cast<unsigned>(hr));
  return text;
}

std::string LastErrorText(const char* file, ULONG line, DWORD error) {
  char text[512];
  std::snprintf(text, sizeof text, "File - %s, Line - %lu, GetLastError = %lu", file,
                static_cast<unsigned long>(line), static_cast<unsigned long>(error));
  return text;
}

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

BaseException::BaseException(std::wstring errorName, std::string extendedData)
    : m_errorName(std::move(errorName)), m_extendedData(std::move(extendedData)) {}

BaseException::~BaseException() = default;

std::string BaseException::GetExtendedData() const { return m_extendedData; }

HRESULTException::HRESULTException(LONG hr, const char* sourceFile, ULONG line)
    : BaseException(kErrorName, HresultText(OrEmpty(sourceFile), line, hr)),
      m_hr(hr),
      m_file(OrEmpty(sourceFile)),
      m_line(line) {}

LastErrorException::LastErrorException(std::wstring (*errorName)(DWORD), const char* sourceFile,
                                       ULONG line)
    // The last error is read before anything else can run and change it.
    : LastErrorException(GetLastError(), errorName, sourceFile, line) {}

LastErrorException::LastErrorException(DWORD capturedError, std::wstring (*errorName)(DWORD),
                                       const char* sourceFile, ULONG line)
    : BaseException(errorName(capturedError),
                    LastErrorText(OrEmpty(sourceFile), line, capturedError)),
      m_errorCode(capturedError),
      m_file(OrEmpty(sourceFile)),
      m_line(line) {}

SecurityException::SecurityException(const char* sourceFile, ULONG line)
    : LastErrorException([](DWORD) { return std::wstring(kErrorName); }, sourceFile, line) {}

Win32ErrorException::Win32ErrorException(const char* sourceFile, ULONG line)
    : LastErrorException(
          [](DWORD captured) {
            return std::wstring(captured == ERROR_ACCESS_DENIED ? SecurityException::kErrorName
                                                                : kErrorName);
          },
          sourceFile, line) {}

}  // namespace KestBase

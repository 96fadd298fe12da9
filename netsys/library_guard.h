// The library convention at the boundary of every operation of the share and
// printer classes: what fails is logged under the class and thrown on
// unchanged, so the automation layer still sees the failure's own kind.
//
//   bool CLocalFS::DeleteFileShare(const std::wstring& p_cstrwShareName) {
//     return KestSys::LibraryGuarded("CLocalFS", [&] { ... });
//   }
#pragma once

#include <source_location>

#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/mt_log.h"

namespace KestSys {

template <typename Body>
auto LibraryGuarded(const char* p_szClassName, Body&& p_body,
                    const std::source_location p_where = std::source_location::current()) -> decltype(p_body()) {
  try {
    return p_body();
  } catch (const KestBase::BaseException& e) {
    Log(p_szClassName, kLogLevelWarning, "%S. File: %s Line: %d.", e.GetErrorName().c_str(),
        KestMT::SourceFileName(p_where.file_name()), static_cast<int>(p_where.line()));
    throw;
  } catch (...) {
    Log(p_szClassName, kLogLevelError, "Unhandled unknown exception detected. File: %s Line: %d.",
        KestMT::SourceFileName(p_where.file_name()), static_cast<int>(p_where.line()));
    throw;
  }
}

}  // namespace KestSys

// The method boundary of the engines: the one way a method of the socket,
// DNS and ping layers turns what its body throws into a log entry and the
// method's failure value.
//
//   DWORD TcpNonBlockingClientSocket::Send(const BYTE* p_pData, DWORD p_dwLength) {
//     return KestBase::Guarded(kClassName, "Send", DWORD{0}, [&] { ... });
//   }
//
// What is caught and logged:
// - KestBase::BaseException: level 1 "%s():  Exception - %S.  Extended Data = <%s>";
// - anything else: level 4 "%s():  Exception - Unknown.", then level 0
//   "Unhandled unknown exception detected. File: %s Line: %d." with the place
//   of the guarded call;
// - with Guarded<AbortHandling::kAsMutexTermination>, a
//   KestMT::ThreadAbortException (a mutex wait cut short by an abort of the
//   waiting thread) is logged instead at level 1 as "Mutex ThreadTerminate
//   Exception at %s line %d".
// The caller gets the fallback value (nothing for a body without result).
// A method whose failure does more than log (its own text, a result to
// report, a cleanup) keeps its own catch clauses.
#pragma once

#include <source_location>
#include <type_traits>
#include <utility>

namespace KestBase {

enum class AbortHandling {
  kAsAnyException,      // an abort is a BaseException like any other
  kAsMutexTermination,  // an abort gets the "Mutex ThreadTerminate" line
};

// Logs the exception in flight (call only inside a catch block) as the table
// above says. Never throws.
void LogGuardedException(const char* p_szClassName, const char* p_szMethodName,
                         AbortHandling p_abortHandling, const std::source_location& p_where) noexcept;

namespace guarded_call_detail {

// The one try block behind both entry points below.
template <typename Result, typename Body>
Result Run(const char* p_szClassName, const char* p_szMethodName, AbortHandling p_abortHandling,
           Body& p_body, std::type_identity_t<Result>* p_pFallback, const std::source_location& p_where) noexcept {
  try {
    return p_body();
  } catch (...) {
    LogGuardedException(p_szClassName, p_szMethodName, p_abortHandling, p_where);
  }
  if constexpr (!std::is_void_v<Result>) {
    return *p_pFallback;
  }
}

}  // namespace guarded_call_detail

template <AbortHandling kAbortHandling = AbortHandling::kAsAnyException, typename Body,
          typename Result = std::invoke_result_t<Body&>>
Result Guarded(const char* p_szClassName, const char* p_szMethodName,
               std::type_identity_t<Result> p_fallback, Body&& p_body,
               const std::source_location p_where = std::source_location::current()) noexcept {
  return guarded_call_detail::Run<Result>(p_szClassName, p_szMethodName, kAbortHandling, p_body, &p_fallback,
                                          p_where);
}

template <AbortHandling kAbortHandling = AbortHandling::kAsAnyException, typename Body>
void Guarded(const char* p_szClassName, const char* p_szMethodName, Body&& p_body,
             const std::source_location p_where = std::source_location::current()) noexcept {
  guarded_call_detail::Run<void>(p_szClassName, p_szMethodName, kAbortHandling, p_body, nullptr, p_where);
}

}  // namespace KestBase

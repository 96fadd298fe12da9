// Shared pieces of the COM runtime tests: a fresh KESTNET_HOME per test (so
// the registry store is new and private), the test server module's path, and
// small helpers for late-bound calls.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "tests/support/temporary_directory.h"

namespace kestnet::platform::testing {

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override { bstrsAtStart_ = LiveBstrCount(); }
  void TearDown() override { CoFreeUnusedLibraries(); }

  // BSTRs allocated since SetUp and not yet freed.
  long LeakedBstrs() const { return LiveBstrCount() - bstrsAtStart_; }

  kestnet::testing::TemporaryHome temporaryHome_;
  const std::string home_ = temporaryHome_.Path().string();
  long bstrsAtStart_ = 0;
};

// The test server module, built next to the test binary.
inline std::wstring TestServerPath() {
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  std::string path = (self.parent_path() / KESTNET_COM_TEST_SERVER_NAME).string();
  return std::wstring(path.begin(), path.end());
}

inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

inline std::wstring Text(BSTR text) { return text == nullptr ? std::wstring() : std::wstring(text, SysStringLen(text)); }

// Owns the arguments of one late-bound call, written first to last as a
// script would; DISPPARAMS holds them last-first.
class Arguments {
 public:
  Arguments() = default;
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  ~Arguments() {
    for (VARIANT& v : values_) VariantClear(&v);
  }

  Arguments& Add(const VARIANT& value) {
    VARIANT copy;
    VariantInit(&copy);
    VariantCopy(&copy, &value);
    values_.insert(values_.begin(), copy);
    return *this;
  }
  Arguments& Long(LONG value) {
    ATL::CComVariant v(static_cast<int>(value));
    return Add(v);
  }
  Arguments& Short(SHORT value) { return Add(ATL::CComVariant(value)); }
  Arguments& Bool(bool value) { return Add(ATL::CComVariant(value)); }
  Arguments& Str(const wchar_t* value) { return Add(ATL::CComVariant(value)); }
  Arguments& Missing() {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return Add(v);
  }
  // Marks the last-added argument as the value of a property put.
  Arguments& AsPropertyPut() {
    named_ = {DISPID_PROPERTYPUT};
    return *this;
  }
  Arguments& Named(std::initializer_list<DISPID> ids) {
    named_ = ids;
    return *this;
  }

  DISPPARAMS* Params() {
    params_.rgvarg = values_.empty() ? nullptr : values_.data();
    params_.cArgs = static_cast<UINT>(values_.size());
    params_.rgdispidNamedArgs = named_.empty() ? nullptr : named_.data();
    params_.cNamedArgs = static_cast<UINT>(named_.size());
    return &params_;
  }

 private:
  std::vector<VARIANT> values_;
  std::vector<DISPID> named_;
  DISPPARAMS params_{};
};

}  // namespace kestnet::platform::testing

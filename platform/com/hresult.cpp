#include "platform/com/hresult.h"

namespace {

struct HResultEntry {
  HRESULT value;
  const char* name;
};

#define KESTNET_HRESULT_ENTRY(name, value) {static_cast<HRESULT>(value##u), #name},
constexpr HResultEntry kHResultNames[] = {KESTNET_HRESULT_TABLE(KESTNET_HRESULT_ENTRY)};
#undef KESTNET_HRESULT_ENTRY

}  // namespace

namespace kestnet::platform {

const char* HResultName(HRESULT hr) {
  for (const HResultEntry& entry : kHResultNames) {
    if (entry.value == hr) return entry.name;
  }
  return nullptr;
}

}  // namespace kestnet::platform

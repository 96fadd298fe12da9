#include "automation/invoke_gate.h"

#include <atomic>

namespace KestAXLib {
namespace {

std::atomic<InvokeGateFactory> g_factory{nullptr};

// Used until a trust gate is installed: nothing is trusted.
class RefusingGate final : public InvokeGate {
 public:
  HRESULT Admit(const InvokeGateCall&) override { return E_ACCESSDENIED; }
  std::string VendorId() const override { return {}; }
};

}  // namespace

void SetInvokeGateFactory(InvokeGateFactory factory) { g_factory.store(factory); }

std::unique_ptr<InvokeGate> CreateInvokeGate() {
  InvokeGateFactory factory = g_factory.load();
  if (factory != nullptr) {
    std::unique_ptr<InvokeGate> gate = factory();
    if (gate != nullptr) return gate;
  }
  return std::make_unique<RefusingGate>();
}

}  // namespace KestAXLib

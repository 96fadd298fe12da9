#include "platform/com/scoped_safearray.h"

#include "platform/com/bstr.h"

namespace kestnet::platform {

HRESULT CreateTextArray(std::span<const std::wstring> texts, VARIANT* array) {
  HRESULT hr = VariantClear(array);
  if (FAILED(hr)) return hr;
  ScopedSafeArray built(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(texts.size())));
  if (built.Get() == nullptr) return E_OUTOFMEMORY;
  LONG index = 0;
  for (const std::wstring& text : texts) {
    VARIANT element;
    element.vt = VT_BSTR;
    element.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    hr = element.bstrVal == nullptr ? E_OUTOFMEMORY : SafeArrayPutElement(built.Get(), &index, &element);
    VariantClear(&element);
    if (FAILED(hr)) return hr;
    ++index;
  }
  array->vt = VT_ARRAY | VT_VARIANT;
  array->parray = built.Release();
  return S_OK;
}

}  // namespace kestnet::platform

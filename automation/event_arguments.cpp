#include "automation/event_arguments.h"

#include <cwchar>

#include "automation/method_guard.h"

namespace KestAXLib {

EventArguments::~EventArguments() {
  for (VARIANT& value : declared_) VariantClear(&value);
}

VARIANT& EventArguments::Next() {
  VARIANT& value = declared_.emplace_back();
  VariantInit(&value);
  return value;
}

EventArguments& EventArguments::AddShort(SHORT value) {
  VARIANT& slot = Next();
  slot.vt = VT_I2;
  slot.iVal = value;
  return *this;
}

EventArguments& EventArguments::AddLong(LONG value) {
  VARIANT& slot = Next();
  slot.vt = VT_I4;
  slot.lVal = value;
  return *this;
}

EventArguments& EventArguments::AddInt(INT value) {
  VARIANT& slot = Next();
  slot.vt = VT_INT;
  slot.intVal = value;
  return *this;
}

EventArguments& EventArguments::AddULong(ULONG value) {
  VARIANT& slot = Next();
  slot.vt = VT_UI4;
  slot.ulVal = value;
  return *this;
}

EventArguments& EventArguments::AddBool(VARIANT_BOOL value) {
  VARIANT& slot = Next();
  slot.vt = VT_BOOL;
  slot.boolVal = value;
  return *this;
}

EventArguments& EventArguments::AddText(const wchar_t* text) {
  if (text == nullptr) text = L"";
  return AddTextOfLength(text, static_cast<UINT>(std::wcslen(text)));
}

EventArguments& EventArguments::AddText(const std::wstring& text) {
  return AddTextOfLength(text.data(), static_cast<UINT>(text.size()));
}

EventArguments& EventArguments::AddBstr(BSTR text) {
  return AddTextOfLength(text == nullptr ? L"" : text, SysStringLen(text));
}

EventArguments& EventArguments::AddTextOfLength(const wchar_t* text, UINT length) {
  // The slot first: if the text cannot be allocated, nothing is left behind.
  VARIANT& slot = Next();
  BSTR copy = SysAllocStringLen(text, length);
  if (copy == nullptr) {
    declared_.pop_back();
    ATL::AtlThrow(E_OUTOFMEMORY);
  }
  slot.vt = VT_BSTR;
  slot.bstrVal = copy;
  return *this;
}

EventArguments& EventArguments::AddDispatch(IDispatch* object) {
  VARIANT& slot = Next();
  slot.vt = VT_DISPATCH;
  slot.pdispVal = object;
  if (object != nullptr) object->AddRef();
  return *this;
}

EventArguments& EventArguments::AddVariant(const VARIANT& value) {
  HRESULT hr = VariantCopy(&Next(), &value);
  if (FAILED(hr)) {
    VariantClear(&declared_.back());
    declared_.pop_back();
    ATL::AtlThrow(hr);
  }
  return *this;
}

DISPPARAMS* EventArguments::Params() {
  reversed_.assign(declared_.rbegin(), declared_.rend());
  params_.rgvarg = reversed_.empty() ? nullptr : reversed_.data();
  params_.rgdispidNamedArgs = nullptr;
  params_.cArgs = static_cast<UINT>(reversed_.size());
  params_.cNamedArgs = 0;
  return &params_;
}

}  // namespace KestAXLib

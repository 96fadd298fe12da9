// The OLE Automation dispatch helpers that IDispatch implementations forward to.
#include "platform/com/typeinfo.h"

HRESULT DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames, DISPID* rgdispid) {
  if (ptinfo == nullptr) return E_INVALIDARG;
  return ptinfo->GetIDsOfNames(rgszNames, cNames, rgdispid);
}

HRESULT DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags, DISPPARAMS* pparams,
                   VARIANT* pvarResult, EXCEPINFO* pexcepinfo, UINT* puArgErr) {
  if (ptinfo == nullptr) return E_INVALIDARG;
  return ptinfo->Invoke(_this, dispidMember, wFlags, pparams, pvarResult, pexcepinfo, puArgErr);
}

HRESULT DispGetParam(DISPPARAMS* pdispparams, UINT position, VARTYPE vtTarg, VARIANT* pvarResult, UINT* puArgErr) {
  if (pdispparams == nullptr || pvarResult == nullptr) return E_INVALIDARG;
  // A named argument whose dispid is the position wins over a positional one.
  long index = -1;
  for (UINT n = 0; n < pdispparams->cNamedArgs; ++n) {
    if (pdispparams->rgdispidNamedArgs != nullptr &&
        pdispparams->rgdispidNamedArgs[n] == static_cast<DISPID>(position)) {
      index = static_cast<long>(n);
    }
  }
  UINT positional = pdispparams->cArgs - pdispparams->cNamedArgs;
  if (index < 0 && position < positional) index = static_cast<long>(pdispparams->cArgs - 1 - position);
  if (index < 0) return DISP_E_PARAMNOTFOUND;
  VariantInit(pvarResult);
  HRESULT hr = VariantChangeType(pvarResult, &pdispparams->rgvarg[index], 0, vtTarg);
  if (FAILED(hr) && puArgErr != nullptr) *puArgErr = static_cast<UINT>(index);
  return hr;
}

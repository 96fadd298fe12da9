#include "automation/object_error.h"

#include "platform/com/activation.h"
#include "platform/com/error_info.h"
#include "platform/com/memory.h"

namespace KestAXLib {

HRESULT SetObjectErrorInfo(REFCLSID clsid, LPCOLESTR description, REFIID iid, HRESULT hr) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create))) return hr;
  create->SetGUID(iid);
  LPOLESTR progId = nullptr;
  if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId))) {
    create->SetSource(progId);
    CoTaskMemFree(progId);
  }
  create->SetDescription(const_cast<LPOLESTR>(description == nullptr ? L"" : description));
  create->SetHelpContext(0);
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
  return hr;
}

}  // namespace KestAXLib

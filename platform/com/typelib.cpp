// ITypeLib and ITypeInfo over a TypeLibDescription.
//
// Everything a client can read is computed once when the library is built
// (attributes, function descriptions, default values), so the Get* calls hand
// out pointers to immutable data and the Release* calls have nothing to do;
// the objects are safe to use from any thread. The type infos belong to their
// library: their AddRef/Release count on the library, which lives while any
// of them is referenced.
#include <memory>
#include <new>
#include <vector>

#include "platform/com/dispatch_invoke.h"
#include "platform/com/ref_count.h"
#include "platform/com/typelib_description.h"
#include "platform/com/typelib_internal.h"

namespace kestnet::platform {
namespace {

class DescribedTypeLib;

// A member's FUNCDESC with the storage it points into.
struct FunctionData {
  FUNCDESC desc{};
  std::vector<ELEMDESC> params;
  std::vector<TYPEDESC> pointees;  // targets of VT_PTR / VT_SAFEARRAY descriptors
  std::vector<PARAMDESCEX> defaults;
  TYPEDESC returnPointee{};
};

void DescribeType(VARTYPE vt, bool byPointer, TYPEDESC* desc, TYPEDESC* pointee) {
  if ((vt & VT_ARRAY) != 0) {
    pointee->vt = vt & VT_TYPEMASK;
    pointee->lptdesc = nullptr;
    desc->vt = VT_SAFEARRAY;
    desc->lptdesc = pointee;
  } else {
    desc->vt = vt;
    desc->lptdesc = nullptr;
  }
  if (byPointer) {
    // Out parameters are pointers to the declared type.
    *pointee = *desc;
    if (desc->vt == VT_SAFEARRAY) pointee->lptdesc = nullptr;  // nested array element type dropped
    desc->vt = VT_PTR;
    desc->lptdesc = pointee;
  }
}

class DescribedTypeInfo final : public ITypeInfo {
 public:
  DescribedTypeInfo(DescribedTypeLib* library, UINT index, const InterfaceDescription* iface,
                    const CoclassDescription* coclass);
  ~DescribedTypeInfo() {
    for (auto& function : functions_) {
      for (auto& value : function->defaults) VariantClear(&value.varDefaultValue);
    }
  }
  HRESULT Build();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
      *ppv = static_cast<ITypeInfo*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetTypeAttr(TYPEATTR** ppTypeAttr) override {
    if (ppTypeAttr == nullptr) return E_INVALIDARG;
    *ppTypeAttr = &attr_;
    return S_OK;
  }
  STDMETHODIMP GetTypeComp(ITypeComp** ppTComp) override {
    if (ppTComp != nullptr) *ppTComp = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override {
    if (ppFuncDesc == nullptr) return E_INVALIDARG;
    *ppFuncDesc = nullptr;
    if (index >= functions_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *ppFuncDesc = &functions_[index]->desc;
    return S_OK;
  }
  STDMETHODIMP GetVarDesc(UINT, VARDESC** ppVarDesc) override {
    if (ppVarDesc == nullptr) return E_INVALIDARG;
    *ppVarDesc = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  STDMETHODIMP GetNames(MEMBERID memid, BSTR* names, UINT cMaxNames, UINT* pcNames) override;
  STDMETHODIMP GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override;
  STDMETHODIMP GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override;
  STDMETHODIMP GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override;
  STDMETHODIMP Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                      EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    if (iface_ == nullptr || iface_->kind != InterfaceKind::Dual) return TYPE_E_BADMODULEKIND;
    if (pvInstance == nullptr) return E_INVALIDARG;
    return InvokeDescribedMember(*iface_, pvInstance, memid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
  }
  STDMETHODIMP GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                BSTR* pBstrHelpFile) override;
  STDMETHODIMP GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return TYPE_E_BADMODULEKIND; }
  STDMETHODIMP GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
  STDMETHODIMP AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) override {
    if (ppv != nullptr) *ppv = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP CreateInstance(IUnknown*, REFIID, PVOID* ppvObj) override {
    if (ppvObj != nullptr) *ppvObj = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetMops(MEMBERID, BSTR* pBstrMops) override {
    if (pBstrMops == nullptr) return E_INVALIDARG;
    *pBstrMops = nullptr;
    return S_OK;
  }
  STDMETHODIMP GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
  STDMETHODIMP_(void) ReleaseTypeAttr(TYPEATTR*) override {}
  STDMETHODIMP_(void) ReleaseFuncDesc(FUNCDESC*) override {}
  STDMETHODIMP_(void) ReleaseVarDesc(VARDESC*) override {}

  const wchar_t* Name() const { return iface_ != nullptr ? iface_->name : coclass_->name; }
  const wchar_t* HelpString() const { return iface_ != nullptr ? iface_->helpString : coclass_->helpString; }
  const GUID& Guid() const { return iface_ != nullptr ? iface_->iid : coclass_->clsid; }
  TYPEKIND Kind() const { return attr_.typekind; }
  const InterfaceDescription* Interface() const { return iface_; }

 private:
  const MemberDescription* FindMember(MEMBERID memid) const;

  DescribedTypeLib* library_;  // not owned: the library owns this object
  UINT index_;
  const InterfaceDescription* iface_;
  const CoclassDescription* coclass_;
  TYPEATTR attr_{};
  std::vector<std::unique_ptr<FunctionData>> functions_;
  std::vector<HREFTYPE> implementedTypes_;
  std::vector<INT> implementedFlags_;
};

class DescribedTypeLib final : public ITypeLib {
 public:
  explicit DescribedTypeLib(const TypeLibDescription* description) : description_(description) {}
  ~DescribedTypeLib() { ReleaseTypeLibModule(module_); }

  HRESULT Build();
  void AttachModule(void* module) { module_ = module; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeLib) {
      *ppv = static_cast<ITypeLib*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  KESTNET_IMPLEMENT_ADDREF_RELEASE

  STDMETHODIMP_(UINT) GetTypeInfoCount() override { return static_cast<UINT>(infos_.size()); }
  STDMETHODIMP GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override {
    if (ppTInfo == nullptr) return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
    infos_[index]->AddRef();
    *ppTInfo = infos_[index].get();
    return S_OK;
  }
  STDMETHODIMP GetTypeInfoType(UINT index, TYPEKIND* pTKind) override {
    if (pTKind == nullptr) return E_INVALIDARG;
    if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pTKind = infos_[index]->Kind();
    return S_OK;
  }
  STDMETHODIMP GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override {
    if (ppTinfo == nullptr) return E_INVALIDARG;
    *ppTinfo = nullptr;
    for (auto& info : infos_) {
      if (info->Guid() == guid) {
        info->AddRef();
        *ppTinfo = info.get();
        return S_OK;
      }
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }
  STDMETHODIMP GetLibAttr(TLIBATTR** ppTLibAttr) override {
    if (ppTLibAttr == nullptr) return E_INVALIDARG;
    *ppTLibAttr = &attr_;
    return S_OK;
  }
  STDMETHODIMP GetTypeComp(ITypeComp** ppTComp) override {
    if (ppTComp != nullptr) *ppTComp = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                BSTR* pBstrHelpFile) override {
    if (index == -1) {
      return FillDocumentation(description_->name, description_->helpString, pBstrName, pBstrDocString,
                               pdwHelpContext, pBstrHelpFile);
    }
    if (index < 0 || static_cast<size_t>(index) >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
    return infos_[static_cast<size_t>(index)]->GetDocumentation(MEMBERID_NIL, pBstrName, pBstrDocString,
                                                                pdwHelpContext, pBstrHelpFile);
  }
  STDMETHODIMP IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) override {
    if (szNameBuf == nullptr || pfName == nullptr) return E_INVALIDARG;
    *pfName = FALSE;
    for (auto& info : infos_) {
      if (NamesEqual(info->Name(), szNameBuf)) *pfName = TRUE;
      if (info->Interface() == nullptr) continue;
      for (const MemberDescription& member : info->Interface()->members) {
        if (NamesEqual(member.name, szNameBuf)) *pfName = TRUE;
      }
    }
    return S_OK;
  }
  STDMETHODIMP FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId, USHORT* pcFound) override;
  STDMETHODIMP_(void) ReleaseTLibAttr(TLIBATTR*) override {}

  static HRESULT FillDocumentation(const wchar_t* name, const wchar_t* help, BSTR* pBstrName, BSTR* pBstrDocString,
                                   DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
    BSTR nameCopy = nullptr;
    BSTR helpCopy = nullptr;
    if (pBstrName != nullptr && (nameCopy = SysAllocString(name)) == nullptr && name != nullptr) return E_OUTOFMEMORY;
    if (pBstrDocString != nullptr && (helpCopy = SysAllocString(help)) == nullptr && help != nullptr) {
      SysFreeString(nameCopy);
      return E_OUTOFMEMORY;
    }
    if (pBstrName != nullptr) *pBstrName = nameCopy;
    if (pBstrDocString != nullptr) *pBstrDocString = helpCopy;
    if (pdwHelpContext != nullptr) *pdwHelpContext = 0;
    if (pBstrHelpFile != nullptr) *pBstrHelpFile = nullptr;
    return S_OK;
  }

  // Index of the type info describing `iface`, or -1.
  int IndexOfInterface(const InterfaceDescription* iface) const {
    for (size_t i = 0; i < infos_.size(); ++i) {
      if (infos_[i]->Interface() == iface) return static_cast<int>(i);
    }
    return -1;
  }
  DescribedTypeInfo* Info(size_t index) { return index < infos_.size() ? infos_[index].get() : nullptr; }

 private:
  RefCount refCount_;
  const TypeLibDescription* description_;
  TLIBATTR attr_{};
  std::vector<std::unique_ptr<DescribedTypeInfo>> infos_;
  void* module_ = nullptr;
};

DescribedTypeInfo::DescribedTypeInfo(DescribedTypeLib* library, UINT index, const InterfaceDescription* iface,
                                     const CoclassDescription* coclass)
    : library_(library), index_(index), iface_(iface), coclass_(coclass) {}

ULONG DescribedTypeInfo::AddRef() { return library_->AddRef(); }
ULONG DescribedTypeInfo::Release() { return library_->Release(); }

HRESULT ValidateInterface(const InterfaceDescription& iface) {
  if (iface.name == nullptr) return TYPE_E_INVALIDSTATE;
  for (size_t m = 0; m < iface.members.size(); ++m) {
    const MemberDescription& member = iface.members[m];
    if (member.name == nullptr) return TYPE_E_INVALIDSTATE;
    for (size_t other = 0; other < m; ++other) {
      if (iface.members[other].dispid == member.dispid && iface.members[other].kind == member.kind) {
        return TYPE_E_INVALIDSTATE;
      }
    }
    bool optionalSeen = false;
    for (size_t p = 0; p < member.params.size(); ++p) {
      const ParamDescription& param = member.params[p];
      if (param.name == nullptr || !IsValidVariantType(param.type == VT_VARIANT ? VT_VARIANT | VT_BYREF : param.type)) {
        return TYPE_E_INVALIDSTATE;
      }
      bool retval = (param.flags & PARAMFLAG_FRETVAL) != 0;
      if (retval && (p + 1 != member.params.size() || iface.kind != InterfaceKind::Dual)) return TYPE_E_INVALIDSTATE;
      if ((param.flags & PARAMFLAG_FOPT) != 0) {
        optionalSeen = true;
      } else if (optionalSeen && !retval) {
        return TYPE_E_INVALIDSTATE;
      }
    }
  }
  return S_OK;
}

HRESULT DescribedTypeInfo::Build() {
  attr_.lcid = 0;
  attr_.memidConstructor = MEMBERID_NIL;
  attr_.memidDestructor = MEMBERID_NIL;
  attr_.cbAlignment = 8;
  attr_.wMajorVerNum = 0;
  attr_.wMinorVerNum = 0;
  if (coclass_ != nullptr) {
    attr_.guid = coclass_->clsid;
    attr_.typekind = TKIND_COCLASS;
    attr_.wTypeFlags = TYPEFLAG_FCANCREATE;
    const InterfaceDescription* implemented[] = {coclass_->defaultInterface, coclass_->defaultSource};
    const INT flags[] = {IMPLTYPEFLAG_FDEFAULT, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE};
    for (int i = 0; i < 2; ++i) {
      if (implemented[i] == nullptr) continue;
      int target = library_->IndexOfInterface(implemented[i]);
      if (target < 0) return TYPE_E_INVALIDSTATE;
      bool isEvents = implemented[i]->kind == InterfaceKind::Events;
      if (isEvents != (i == 1)) return TYPE_E_INVALIDSTATE;
      implementedTypes_.push_back(static_cast<HREFTYPE>(target));
      implementedFlags_.push_back(flags[i]);
    }
    attr_.cImplTypes = static_cast<WORD>(implementedTypes_.size());
    return S_OK;
  }

  HRESULT hr = ValidateInterface(*iface_);
  if (FAILED(hr)) return hr;
  attr_.guid = iface_->iid;
  attr_.typekind = TKIND_DISPATCH;
  bool dual = iface_->kind == InterfaceKind::Dual;
  attr_.wTypeFlags = TYPEFLAG_FDISPATCHABLE | (dual ? TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION : 0);
  attr_.cbSizeVft = static_cast<WORD>((dual ? 7 + iface_->members.size() : 7) * sizeof(void*));
  attr_.cFuncs = static_cast<WORD>(iface_->members.size());

  for (size_t m = 0; m < iface_->members.size(); ++m) {
    const MemberDescription& member = iface_->members[m];
    auto function = std::make_unique<FunctionData>();
    std::span<const ParamDescription> callerParams = CallerParams(member);
    function->params.resize(callerParams.size());
    function->pointees.resize(callerParams.size());
    function->defaults.resize(callerParams.size());
    SHORT optionalCount = 0;
    for (size_t p = 0; p < callerParams.size(); ++p) {
      const ParamDescription& param = callerParams[p];
      ELEMDESC& elem = function->params[p];
      elem = ELEMDESC{};
      DescribeType(param.type, (param.flags & PARAMFLAG_FOUT) != 0, &elem.tdesc, &function->pointees[p]);
      elem.paramdesc.wParamFlags = param.flags;
      if ((param.flags & PARAMFLAG_FOPT) != 0) ++optionalCount;
      if ((param.flags & PARAMFLAG_FHASDEFAULT) != 0) {
        PARAMDESCEX& ex = function->defaults[p];
        ex.cBytes = sizeof(PARAMDESCEX);
        VariantInit(&ex.varDefaultValue);
        hr = DefaultToVariant(param.defaultValue, &ex.varDefaultValue);
        if (FAILED(hr)) return hr;
        elem.paramdesc.pparamdescex = &ex;
      }
    }
    FUNCDESC& desc = function->desc;
    desc.memid = member.dispid;
    desc.lprgscode = nullptr;
    desc.lprgelemdescParam = function->params.empty() ? nullptr : function->params.data();
    desc.funckind = FUNC_DISPATCH;
    desc.invkind = member.kind;
    desc.callconv = CC_STDCALL;
    desc.cParams = static_cast<SHORT>(callerParams.size());
    desc.cParamsOpt = optionalCount;
    desc.oVft = dual ? static_cast<SHORT>((7 + m) * sizeof(void*)) : 0;
    desc.cScodes = 0;
    const ParamDescription* retval = RetValParam(member);
    if (retval != nullptr) {
      DescribeType(retval->type, false, &desc.elemdescFunc.tdesc, &function->returnPointee);
    } else {
      desc.elemdescFunc.tdesc.vt = VT_VOID;
    }
    desc.wFuncFlags = 0;
    functions_.push_back(std::move(function));
  }
  return S_OK;
}

const MemberDescription* DescribedTypeInfo::FindMember(MEMBERID memid) const {
  if (iface_ == nullptr) return nullptr;
  for (const MemberDescription& member : iface_->members) {
    if (member.dispid == memid) return &member;
  }
  return nullptr;
}

HRESULT DescribedTypeInfo::GetNames(MEMBERID memid, BSTR* names, UINT cMaxNames, UINT* pcNames) {
  if (names == nullptr || pcNames == nullptr) return E_INVALIDARG;
  *pcNames = 0;
  const MemberDescription* member = FindMember(memid);
  if (member == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  std::vector<const wchar_t*> all{member->name};
  for (const ParamDescription& param : CallerParams(*member)) all.push_back(param.name);
  UINT count = 0;
  for (const wchar_t* name : all) {
    if (count >= cMaxNames) break;
    names[count] = SysAllocString(name);
    if (names[count] == nullptr) {
      for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
      return E_OUTOFMEMORY;
    }
    ++count;
  }
  *pcNames = count;
  return S_OK;
}

HRESULT DescribedTypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) {
  if (pRefType == nullptr) return E_INVALIDARG;
  // -1 on a dual interface asks for its vtable view, which is this same description.
  if (index == static_cast<UINT>(-1) && iface_ != nullptr && iface_->kind == InterfaceKind::Dual) {
    *pRefType = index_;
    return S_OK;
  }
  if (index >= implementedTypes_.size()) return TYPE_E_ELEMENTNOTFOUND;
  *pRefType = implementedTypes_[index];
  return S_OK;
}

HRESULT DescribedTypeInfo::GetImplTypeFlags(UINT index, INT* pImplTypeFlags) {
  if (pImplTypeFlags == nullptr) return E_INVALIDARG;
  if (index >= implementedFlags_.size()) return TYPE_E_ELEMENTNOTFOUND;
  *pImplTypeFlags = implementedFlags_[index];
  return S_OK;
}

HRESULT DescribedTypeInfo::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) {
  if (rgszNames == nullptr || pMemId == nullptr) return E_INVALIDARG;
  if (cNames == 0) return E_INVALIDARG;
  for (UINT i = 0; i < cNames; ++i) pMemId[i] = MEMBERID_NIL;
  if (iface_ == nullptr || rgszNames[0] == nullptr) return DISP_E_UNKNOWNNAME;
  // The member is named first; the names after it are its parameters, whose
  // ids are their positions in the declaration.
  const MemberDescription* found = nullptr;
  for (const MemberDescription& member : iface_->members) {
    if (NamesEqual(member.name, rgszNames[0])) {
      found = &member;
      break;
    }
  }
  if (found == nullptr) return DISP_E_UNKNOWNNAME;
  pMemId[0] = found->dispid;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < cNames; ++i) {
    bool matched = false;
    // Any member of that name may declare the parameter (get and put differ).
    for (const MemberDescription& member : iface_->members) {
      if (member.dispid != found->dispid) continue;
      std::span<const ParamDescription> params = CallerParams(member);
      for (size_t p = 0; p < params.size() && !matched; ++p) {
        if (rgszNames[i] != nullptr && NamesEqual(params[p].name, rgszNames[i])) {
          pMemId[i] = static_cast<MEMBERID>(p);
          matched = true;
        }
      }
      if (matched) break;
    }
    if (!matched) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT DescribedTypeInfo::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                            DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
  if (memid == MEMBERID_NIL) {
    return DescribedTypeLib::FillDocumentation(Name(), HelpString(), pBstrName, pBstrDocString, pdwHelpContext,
                                               pBstrHelpFile);
  }
  const MemberDescription* member = FindMember(memid);
  if (member == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  return DescribedTypeLib::FillDocumentation(member->name, member->helpString, pBstrName, pBstrDocString,
                                             pdwHelpContext, pBstrHelpFile);
}

HRESULT DescribedTypeInfo::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
  if (ppTInfo == nullptr) return E_INVALIDARG;
  *ppTInfo = nullptr;
  DescribedTypeInfo* info = library_->Info(hRefType);
  if (info == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  info->AddRef();
  *ppTInfo = info;
  return S_OK;
}

HRESULT DescribedTypeInfo::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
  if (ppTLib == nullptr) return E_INVALIDARG;
  library_->AddRef();
  *ppTLib = library_;
  if (pIndex != nullptr) *pIndex = index_;
  return S_OK;
}

HRESULT DescribedTypeLib::Build() {
  attr_.guid = description_->libid;
  attr_.lcid = 0;
  attr_.syskind = SYS_WIN64;
  attr_.wMajorVerNum = description_->majorVersion;
  attr_.wMinorVerNum = description_->minorVersion;
  attr_.wLibFlags = LIBFLAG_FHASDISKIMAGE;
  UINT index = 0;
  for (const InterfaceDescription* iface : description_->interfaces) {
    if (iface == nullptr) return TYPE_E_INVALIDSTATE;
    infos_.push_back(std::make_unique<DescribedTypeInfo>(this, index++, iface, nullptr));
  }
  for (const CoclassDescription& coclass : description_->coclasses) {
    if (coclass.name == nullptr) return TYPE_E_INVALIDSTATE;
    infos_.push_back(std::make_unique<DescribedTypeInfo>(this, index++, nullptr, &coclass));
  }
  for (auto& info : infos_) {
    HRESULT hr = info->Build();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT DescribedTypeLib::FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                                   USHORT* pcFound) {
  if (szNameBuf == nullptr || ppTInfo == nullptr || rgMemId == nullptr || pcFound == nullptr) return E_INVALIDARG;
  USHORT capacity = *pcFound;
  USHORT found = 0;
  for (auto& info : infos_) {
    if (found >= capacity) break;
    MEMBERID memid = MEMBERID_NIL;
    bool match = NamesEqual(info->Name(), szNameBuf);
    if (!match && info->Interface() != nullptr) {
      for (const MemberDescription& member : info->Interface()->members) {
        if (NamesEqual(member.name, szNameBuf)) {
          memid = member.dispid;
          match = true;
          break;
        }
      }
    }
    if (!match) continue;
    info->AddRef();
    ppTInfo[found] = info.get();
    rgMemId[found] = memid;
    ++found;
  }
  *pcFound = found;
  return S_OK;
}

}  // namespace

HRESULT CreateTypeLibFromDescription(const TypeLibDescription* description, ITypeLib** typeLib) {
  return CreateTypeLibForModule(description, nullptr, typeLib);
}

HRESULT CreateTypeLibForModule(const TypeLibDescription* description, void* module, ITypeLib** typeLib) {
  if (typeLib == nullptr) return E_POINTER;
  *typeLib = nullptr;
  if (description == nullptr || description->name == nullptr) return E_INVALIDARG;
  auto* library = new (std::nothrow) DescribedTypeLib(description);
  if (library == nullptr) return E_OUTOFMEMORY;
  HRESULT hr;
  try {
    hr = library->Build();
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) {
    library->Release();
    return hr;
  }
  library->AttachModule(module);
  *typeLib = library;
  return S_OK;
}

}  // namespace kestnet::platform

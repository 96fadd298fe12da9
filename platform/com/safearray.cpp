#include "platform/com/safearray.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/com/dispatch.h"

namespace {

// The descriptor is allocated behind a small header that remembers the
// element type, as Windows keeps it in the four bytes before the descriptor.
struct ArrayBlock {
  VARTYPE vt;
  USHORT padding[3];
  SAFEARRAY descriptor;
};

ArrayBlock* BlockOf(SAFEARRAY* psa) {
  return reinterpret_cast<ArrayBlock*>(reinterpret_cast<char*>(psa) - offsetof(ArrayBlock, descriptor));
}

struct ElementType {
  VARTYPE vt;
  ULONG size;
  USHORT features;
};

constexpr ElementType kElementTypes[] = {
    {VT_I1, 1, 0},        {VT_UI1, 1, 0},       {VT_I2, 2, 0},
    {VT_UI2, 2, 0},       {VT_BOOL, 2, 0},      {VT_I4, 4, 0},
    {VT_UI4, 4, 0},       {VT_INT, 4, 0},       {VT_UINT, 4, 0},
    {VT_ERROR, 4, 0},     {VT_R4, 4, 0},        {VT_R8, 8, 0},
    {VT_DATE, 8, 0},      {VT_CY, 8, 0},        {VT_I8, 8, 0},
    {VT_UI8, 8, 0},       {VT_BSTR, sizeof(BSTR), FADF_BSTR},
    {VT_UNKNOWN, sizeof(IUnknown*), FADF_UNKNOWN},
    {VT_DISPATCH, sizeof(IDispatch*), FADF_DISPATCH},
    {VT_VARIANT, sizeof(VARIANT), FADF_VARIANT},
};

const ElementType* FindElementType(VARTYPE vt) {
  for (const ElementType& type : kElementTypes) {
    if (type.vt == vt) return &type;
  }
  return nullptr;
}

bool IsValidArray(SAFEARRAY* psa) { return psa != nullptr && psa->cDims == 1; }

// Address of element `index`, or nullptr when it is out of bounds.
void* ElementAddress(SAFEARRAY* psa, LONG index) {
  const SAFEARRAYBOUND& bound = psa->rgsabound[0];
  long long offset = static_cast<long long>(index) - bound.lLbound;
  if (offset < 0 || offset >= static_cast<long long>(bound.cElements)) return nullptr;
  return static_cast<char*>(psa->pvData) + offset * psa->cbElements;
}

// Frees the owned contents of `count` elements starting at `data`.
void ReleaseElements(SAFEARRAY* psa, void* data, ULONG count) {
  for (ULONG i = 0; i < count; ++i) {
    void* element = static_cast<char*>(data) + static_cast<size_t>(i) * psa->cbElements;
    if ((psa->fFeatures & FADF_BSTR) != 0) {
      SysFreeString(*static_cast<BSTR*>(element));
    } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
      IUnknown* object = *static_cast<IUnknown**>(element);
      if (object != nullptr) object->Release();
    } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
      VariantClear(static_cast<VARIANT*>(element));
    }
  }
  std::memset(data, 0, static_cast<size_t>(count) * psa->cbElements);
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  if (cDims != 1 || rgsabound == nullptr) return nullptr;
  const ElementType* type = FindElementType(vt);
  if (type == nullptr) return nullptr;
  auto* block = static_cast<ArrayBlock*>(std::calloc(1, sizeof(ArrayBlock)));
  if (block == nullptr) return nullptr;
  block->vt = vt;
  SAFEARRAY* psa = &block->descriptor;
  psa->cDims = 1;
  psa->fFeatures = static_cast<USHORT>(type->features | FADF_HAVEVARTYPE);
  psa->cbElements = type->size;
  psa->rgsabound[0] = rgsabound[0];
  size_t count = rgsabound[0].cElements;
  // calloc leaves every BSTR, interface pointer and VARIANT (VT_EMPTY) empty.
  psa->pvData = std::calloc(count == 0 ? 1 : count, type->size);
  if (psa->pvData == nullptr) {
    std::free(block);
    return nullptr;
  }
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  SAFEARRAYBOUND bound{cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (!IsValidArray(psa)) return E_INVALIDARG;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  ReleaseElements(psa, psa->pvData, psa->rgsabound[0].cElements);
  std::free(psa->pvData);
  std::free(BlockOf(psa));
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cDims; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cbElements; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!IsValidArray(psa) || pvt == nullptr) return E_INVALIDARG;
  *pvt = BlockOf(psa)->vt;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!IsValidArray(psa) || plLbound == nullptr) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!IsValidArray(psa) || plUbound == nullptr) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  *plUbound = static_cast<LONG>(psa->rgsabound[0].lLbound + static_cast<long long>(psa->rgsabound[0].cElements) - 1);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (!IsValidArray(psa)) return E_INVALIDARG;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (!IsValidArray(psa)) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!IsValidArray(psa) || ppvData == nullptr) return E_INVALIDARG;
  ++psa->cLocks;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) {
  if (!IsValidArray(psa) || rgIndices == nullptr || ppvData == nullptr) return E_INVALIDARG;
  void* element = ElementAddress(psa, rgIndices[0]);
  if (element == nullptr) return DISP_E_BADINDEX;
  *ppvData = element;
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!IsValidArray(psa) || rgIndices == nullptr) return E_INVALIDARG;
  void* element = ElementAddress(psa, rgIndices[0]);
  if (element == nullptr) return DISP_E_BADINDEX;
  if ((psa->fFeatures & FADF_BSTR) != 0) {
    auto source = static_cast<BSTR>(pv);
    BSTR copy = nullptr;
    if (source != nullptr) {
      copy = SysAllocStringLen(source, SysStringLen(source));
      if (copy == nullptr) return E_OUTOFMEMORY;
    }
    SysFreeString(*static_cast<BSTR*>(element));
    *static_cast<BSTR*>(element) = copy;
  } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
    auto* object = static_cast<IUnknown*>(pv);
    if (object != nullptr) object->AddRef();
    IUnknown* old = *static_cast<IUnknown**>(element);
    *static_cast<IUnknown**>(element) = object;
    if (old != nullptr) old->Release();
  } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
    if (pv == nullptr) return E_INVALIDARG;
    return VariantCopy(static_cast<VARIANT*>(element), static_cast<VARIANT*>(pv));
  } else {
    if (pv == nullptr) return E_INVALIDARG;
    std::memcpy(element, pv, psa->cbElements);
  }
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!IsValidArray(psa) || rgIndices == nullptr || pv == nullptr) return E_INVALIDARG;
  void* element = ElementAddress(psa, rgIndices[0]);
  if (element == nullptr) return DISP_E_BADINDEX;
  if ((psa->fFeatures & FADF_BSTR) != 0) {
    BSTR source = *static_cast<BSTR*>(element);
    BSTR copy = nullptr;
    if (source != nullptr) {
      copy = SysAllocStringLen(source, SysStringLen(source));
      if (copy == nullptr) return E_OUTOFMEMORY;
    }
    *static_cast<BSTR*>(pv) = copy;
  } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
    IUnknown* object = *static_cast<IUnknown**>(element);
    if (object != nullptr) object->AddRef();
    *static_cast<IUnknown**>(pv) = object;
  } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
    // The destination is uninitialised memory, as on Windows.
    VARIANT* out = static_cast<VARIANT*>(pv);
    VariantInit(out);
    return VariantCopy(out, static_cast<VARIANT*>(element));
  } else {
    std::memcpy(pv, element, psa->cbElements);
  }
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr) return S_OK;
  if (!IsValidArray(psa)) return E_INVALIDARG;
  SAFEARRAY* copy = SafeArrayCreate(BlockOf(psa)->vt, 1, psa->rgsabound);
  if (copy == nullptr) return E_OUTOFMEMORY;
  LONG lower = psa->rgsabound[0].lLbound;
  for (ULONG i = 0; i < psa->rgsabound[0].cElements; ++i) {
    LONG index = static_cast<LONG>(lower + static_cast<long long>(i));
    void* element = ElementAddress(psa, index);
    void* value = element;
    if ((psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) != 0) value = *static_cast<void**>(element);
    HRESULT hr = SafeArrayPutElement(copy, &index, value);
    if (FAILED(hr)) {
      SafeArrayDestroy(copy);
      return hr;
    }
  }
  *ppsaOut = copy;
  return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) {
  if (!IsValidArray(psa) || psaboundNew == nullptr) return E_INVALIDARG;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  ULONG oldCount = psa->rgsabound[0].cElements;
  ULONG newCount = psaboundNew->cElements;
  if (newCount < oldCount) {
    ReleaseElements(psa, static_cast<char*>(psa->pvData) + static_cast<size_t>(newCount) * psa->cbElements,
                    oldCount - newCount);
  }
  void* data = std::realloc(psa->pvData, (newCount == 0 ? 1 : static_cast<size_t>(newCount)) * psa->cbElements);
  if (data == nullptr) return E_OUTOFMEMORY;
  if (newCount > oldCount) {
    std::memset(static_cast<char*>(data) + static_cast<size_t>(oldCount) * psa->cbElements, 0,
                static_cast<size_t>(newCount - oldCount) * psa->cbElements);
  }
  psa->pvData = data;
  psa->rgsabound[0].cElements = newCount;
  return S_OK;
}

#include "platform/com/stream.h"

#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/com/ref_count.h"

namespace {

// A stream over a byte vector. Clones share nothing: the memory stream of
// Windows shares its buffer between clones, but nothing here clones.
class MemoryStream final : public IStream {
 public:
  MemoryStream() = default;
  explicit MemoryStream(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
      *ppv = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  KESTNET_IMPLEMENT_ADDREF_RELEASE

  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pv == nullptr) return STG_E_INVALIDPOINTER;
    std::lock_guard lock(mutex_);
    size_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    size_t count = cb < available ? cb : available;
    if (count > 0) std::memcpy(pv, bytes_.data() + position_, count);
    position_ += count;
    if (pcbRead != nullptr) *pcbRead = static_cast<ULONG>(count);
    return count < cb ? S_FALSE : S_OK;
  }

  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (pv == nullptr) return STG_E_INVALIDPOINTER;
    std::lock_guard lock(mutex_);
    if (position_ + cb > bytes_.size()) {
      try {
        bytes_.resize(position_ + cb);
      } catch (const std::bad_alloc&) {
        if (pcbWritten != nullptr) *pcbWritten = 0;
        return STG_E_MEDIUMFULL;
      }
    }
    if (cb > 0) std::memcpy(bytes_.data() + position_, pv, cb);
    position_ += cb;
    if (pcbWritten != nullptr) *pcbWritten = cb;
    return S_OK;
  }

  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    std::lock_guard lock(mutex_);
    long long base = 0;
    switch (origin) {
      case STREAM_SEEK_SET: base = 0; break;
      case STREAM_SEEK_CUR: base = static_cast<long long>(position_); break;
      case STREAM_SEEK_END: base = static_cast<long long>(bytes_.size()); break;
      default: return STG_E_INVALIDFUNCTION;
    }
    long long target = base + move.QuadPart;
    if (target < 0) return STG_E_INVALIDFUNCTION;
    position_ = static_cast<size_t>(target);
    if (newPosition != nullptr) newPosition->QuadPart = position_;
    return S_OK;
  }

  STDMETHODIMP SetSize(ULARGE_INTEGER size) override {
    std::lock_guard lock(mutex_);
    try {
      bytes_.resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::exception&) {
      return STG_E_MEDIUMFULL;
    }
    return S_OK;
  }

  STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override {
    if (target == nullptr) return STG_E_INVALIDPOINTER;
    std::vector<BYTE> chunk;
    {
      std::lock_guard lock(mutex_);
      size_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
      size_t count = cb.QuadPart < available ? static_cast<size_t>(cb.QuadPart) : available;
      chunk.assign(bytes_.begin() + static_cast<long>(position_), bytes_.begin() + static_cast<long>(position_ + count));
      position_ += count;
    }
    ULONG written = 0;
    HRESULT hr = target->Write(chunk.data(), static_cast<ULONG>(chunk.size()), &written);
    if (pcbRead != nullptr) pcbRead->QuadPart = chunk.size();
    if (pcbWritten != nullptr) pcbWritten->QuadPart = written;
    return hr;
  }

  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Revert() override { return S_OK; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

  STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
    if (stat == nullptr) return STG_E_INVALIDPOINTER;
    std::lock_guard lock(mutex_);
    *stat = STATSTG{};
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = bytes_.size();
    return S_OK;
  }

  STDMETHODIMP Clone(IStream** clone) override {
    if (clone == nullptr) return STG_E_INVALIDPOINTER;
    std::lock_guard lock(mutex_);
    auto* copy = new (std::nothrow) MemoryStream(bytes_);
    if (copy == nullptr) return E_OUTOFMEMORY;
    copy->position_ = position_;
    *clone = copy;
    return S_OK;
  }

 private:
  kestnet::platform::RefCount refCount_;
  std::mutex mutex_;
  std::vector<BYTE> bytes_;
  size_t position_ = 0;
};

// What CoMarshalInterface writes: a tag, then the interface pointer holding
// one reference of its own.
constexpr DWORD kMarshalTag = 0x4B4E4D53;  // "KNMS"
struct MarshalPacket {
  DWORD tag;
  DWORD flags;
  IUnknown* object;
};

HRESULT ReadPacket(IStream* stream, MarshalPacket* packet) {
  ULONG read = 0;
  HRESULT hr = stream->Read(packet, sizeof(*packet), &read);
  if (FAILED(hr)) return hr;
  if (read != sizeof(*packet) || packet->tag != kMarshalTag || packet->object == nullptr) return E_INVALIDARG;
  return S_OK;
}

}  // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL /*fDeleteOnRelease*/, IStream** ppstm) {
  if (ppstm == nullptr) return E_INVALIDARG;
  *ppstm = nullptr;
  if (hGlobal != nullptr) return E_INVALIDARG;
  auto* stream = new (std::nothrow) MemoryStream();
  if (stream == nullptr) return E_OUTOFMEMORY;
  *ppstm = stream;
  return S_OK;
}

IStream* SHCreateMemStream(const BYTE* pInit, UINT cbInit) {
  try {
    std::vector<BYTE> bytes;
    if (pInit != nullptr) bytes.assign(pInit, pInit + cbInit);
    return new MemoryStream(std::move(bytes));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

HRESULT CoMarshalInterface(IStream* pStm, REFIID riid, IUnknown* pUnk, DWORD /*dwDestContext*/,
                           void* /*pvDestContext*/, DWORD mshlflags) {
  if (pStm == nullptr || pUnk == nullptr) return E_INVALIDARG;
  void* object = nullptr;
  HRESULT hr = pUnk->QueryInterface(riid, &object);
  if (FAILED(hr)) return hr;
  MarshalPacket packet{kMarshalTag, mshlflags, static_cast<IUnknown*>(object)};
  ULONG written = 0;
  hr = pStm->Write(&packet, sizeof(packet), &written);
  if (FAILED(hr) || written != sizeof(packet)) {
    packet.object->Release();
    return FAILED(hr) ? hr : STG_E_MEDIUMFULL;
  }
  return S_OK;
}

HRESULT CoUnmarshalInterface(IStream* pStm, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  if (pStm == nullptr) return E_INVALIDARG;
  MarshalPacket packet{};
  HRESULT hr = ReadPacket(pStm, &packet);
  if (FAILED(hr)) return hr;
  hr = packet.object->QueryInterface(riid, ppv);
  // A normal marshal is consumed by its one unmarshal; a table marshal keeps
  // its reference until CoReleaseMarshalData.
  if (packet.flags == MSHLFLAGS_NORMAL) packet.object->Release();
  return hr;
}

HRESULT CoReleaseMarshalData(IStream* pStm) {
  if (pStm == nullptr) return E_INVALIDARG;
  MarshalPacket packet{};
  HRESULT hr = ReadPacket(pStm, &packet);
  if (FAILED(hr)) return hr;
  packet.object->Release();
  return S_OK;
}

HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, IUnknown* pUnk, IStream** ppStm) {
  if (ppStm == nullptr) return E_INVALIDARG;
  *ppStm = nullptr;
  IStream* stream = nullptr;
  HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
  if (FAILED(hr)) return hr;
  hr = CoMarshalInterface(stream, riid, pUnk, MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL);
  if (FAILED(hr)) {
    stream->Release();
    return hr;
  }
  LARGE_INTEGER start{};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  *ppStm = stream;
  return S_OK;
}

HRESULT CoGetInterfaceAndReleaseStream(IStream* pStm, REFIID iid, void** ppv) {
  if (pStm == nullptr) return E_INVALIDARG;
  HRESULT hr = CoUnmarshalInterface(pStm, iid, ppv);
  pStm->Release();
  return hr;
}

// IStream over memory: the byte stream interfaces are marshalled into and
// test harnesses hand objects over in. Windows vtable order.
#pragma once

#include "platform/com/unknown.h"

union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
};

struct STATSTG {
  LPOLESTR pwcsName;
  DWORD type;
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
};

constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;
constexpr DWORD STGTY_STREAM = 2;
constexpr DWORD STATFLAG_DEFAULT = 0;
constexpr DWORD STATFLAG_NONAME = 1;

struct ISequentialStream : IUnknown {
  KESTNET_INTERFACE_IID(0x0C733A30, 0x2A1C, 0x11CE, 0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D);
  STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) = 0;
  STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;

 protected:
  ~ISequentialStream() = default;
};

struct IStream : ISequentialStream {
  KESTNET_INTERFACE_IID(0x0000000C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
  STDMETHOD(Seek)(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) = 0;
  STDMETHOD(SetSize)(ULARGE_INTEGER libNewSize) = 0;
  STDMETHOD(CopyTo)(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) = 0;
  STDMETHOD(Commit)(DWORD grfCommitFlags) = 0;
  STDMETHOD(Revert)() = 0;
  STDMETHOD(LockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
  STDMETHOD(UnlockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
  STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
  STDMETHOD(Clone)(IStream** ppstm) = 0;

 protected:
  ~IStream() = default;
};

inline constexpr IID IID_ISequentialStream = ISequentialStream::kIid;
inline constexpr IID IID_IStream = IStream::kIid;

using HGLOBAL = void*;

// A growable memory stream. Only hGlobal == nullptr is supported (the stream
// owns its memory); fDeleteOnRelease is accepted and has no further meaning.
HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, IStream** ppstm);
// A memory stream holding a copy of the bytes; nullptr on failure.
IStream* SHCreateMemStream(const BYTE* pInit, UINT cbInit);

// Marshalling within the process: the stream carries a reference to the
// object, which CoUnmarshalInterface hands back (to any thread) and
// CoReleaseMarshalData drops. There are no proxies; see apartment.h.
constexpr DWORD MSHCTX_LOCAL = 0;
constexpr DWORD MSHCTX_INPROC = 3;
constexpr DWORD MSHLFLAGS_NORMAL = 0;
constexpr DWORD MSHLFLAGS_TABLESTRONG = 1;
HRESULT CoMarshalInterface(IStream* pStm, REFIID riid, IUnknown* pUnk, DWORD dwDestContext, void* pvDestContext,
                           DWORD mshlflags);
HRESULT CoUnmarshalInterface(IStream* pStm, REFIID riid, void** ppv);
HRESULT CoReleaseMarshalData(IStream* pStm);
HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, IUnknown* pUnk, IStream** ppStm);
HRESULT CoGetInterfaceAndReleaseStream(IStream* pStm, REFIID iid, void** ppv);

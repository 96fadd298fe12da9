#include "net/sockets/tcp_non_blocking_line_socket.h"

#include <algorithm>

#include "net/sockets/socket_result.h"
#include "net/sockets/tls_session.h"
#include "platform/net/winsock_errors.h"
#include "runtime/exceptions.h"
#include "runtime/guarded_call.h"
#include "runtime/log.h"

namespace KestNet {
namespace {

using KestBase::Guarded;

// Every entry point logs an aborted mutex wait with its place.
constexpr KestBase::AbortHandling kAbortAware = KestBase::AbortHandling::kAsMutexTermination;

constexpr const char* kClassName = "TcpNonBlockingLineSocket";
constexpr const char* kListenerClassName = "TcpNonBlockingLineSocket::InternalListener";
constexpr BYTE kLineFeed = 10;
// The most plain text one TLS record carries (RFC 8446 §5.1).
constexpr DWORD kTlsRecordSize = 16 * 1024;

// A run of sends of more than one chunk: the kernel holds partial segments
// until the run ends (however it ends), so the chunks leave in full segments
// and not one small segment each, yet the run's last bytes are not delayed.
class CorkedRun {
 public:
  CorkedRun(TcpNonBlockingClientSocket& p_socket, bool p_bLongRun)
      : m_socket(p_socket), m_bCorked(p_bLongRun && p_socket.SetCork(true)) {}
  ~CorkedRun() {
    if (m_bCorked) {
      (void)m_socket.SetCork(false);
    }
  }
  CorkedRun(const CorkedRun&) = delete;
  CorkedRun& operator=(const CorkedRun&) = delete;

 private:
  TcpNonBlockingClientSocket& m_socket;
  const bool m_bCorked;
};

}  // namespace

TcpNonBlockingLineSocket::TcpNonBlockingLineSocket() : m_internalListener(this) {}

TcpNonBlockingLineSocket::~TcpNonBlockingLineSocket() {
  // Closed here, while the buffers and the internal listener still exist; the
  // base destructor then finds nothing left to close.
  try {
    TcpNonBlockingLineSocket::Close(true);
  } catch (...) {
    KestLog::LogDestructorException(kClassName, "~TcpNonBlockingLineSocket");
  }
}

DWORD_PTR TcpNonBlockingLineSocket::Create(TcpNonBlockingSocketListener*, USHORT, const IPAddress&) {
  KestLog::LogInvalidArgument(kClassName, "Create", "p_pListener");
  return 0;
}

DWORD_PTR TcpNonBlockingLineSocket::Create(TcpNonBlockingLineSocketListener* p_pListener,
                                           USHORT p_usLocalPort, const IPAddress& p_localAddress) {
  return Guarded<kAbortAware>(kClassName, "Create", DWORD_PTR{0}, [&]() -> DWORD_PTR {
    if (p_pListener == nullptr) {
      return 0;
    }
    KestMT::AutoLockMutex socketLock(GetSocketMutex(), INFINITE);
    KestMT::AutoLockMutex bufferLock(&m_bufferMutex, INFINITE);
    const DWORD_PTR id =
        TcpNonBlockingClientSocket::Create(&m_internalListener, p_usLocalPort, p_localAddress);
    if (id == 0) {
      return 0;
    }
    m_pLineListener = p_pListener;
    m_pTls.reset();
    ClearReceiveBuffer();
    m_sendBuffer.Clear();
    m_bLineMode = true;
    KestMT::AutoLockMutex closeLock(&m_closeMutex, INFINITE);
    m_bClosing.store(false, std::memory_order_release);
    return id;
  });
}

void TcpNonBlockingLineSocket::Close(bool p_bImmediate) {
  Guarded<kAbortAware>(kClassName, "Close", [&] {
    {
      KestMT::AutoLockMutex closeLock(&m_closeMutex, INFINITE);
      m_bClosing.store(true, std::memory_order_release);
    }
    TcpNonBlockingClientSocket::Close(p_bImmediate);
  });
}

DWORD TcpNonBlockingLineSocket::CopyReceived(BYTE* p_pBuffer, DWORD p_dwCapacity, bool p_bRemove,
                                             const char* p_szWho) {
  return Guarded<kAbortAware>(kClassName, p_szWho, DWORD{0}, [&]() -> DWORD {
    if (p_pBuffer == nullptr || p_dwCapacity == 0) {
      return 0;
    }
    KestMT::AutoLockMutex bufferLock(&m_bufferMutex, INFINITE);
    const DWORD count = std::min(p_dwCapacity, m_receiveBuffer.GetSize());
    if (count == 0 || !m_receiveBuffer.GetData(p_pBuffer, count, p_bRemove)) {
      return 0;
    }
    return count;
  });
}

DWORD TcpNonBlockingLineSocket::Receive(BYTE* p_pBuffer, DWORD p_dwCapacity) {
  return CopyReceived(p_pBuffer, p_dwCapacity, true, "Receive");
}

DWORD TcpNonBlockingLineSocket::Peek(BYTE* p_pBuffer, DWORD p_dwCapacity) {
  return CopyReceived(p_pBuffer, p_dwCapacity, false, "Peek");
}

DWORD TcpNonBlockingLineSocket::Send(const BYTE* p_pData, DWORD p_dwLength) {
  return Guarded<kAbortAware>(kClassName, "Send", DWORD{0}, [&]() -> DWORD {
    if (p_pData == nullptr || p_dwLength == 0) {
      return 0;
    }
    KestMT::AutoLockMutex socketLock(GetSocketMutex(), INFINITE);
    KestMT::AutoLockMutex bufferLock(&m_bufferMutex, INFINITE);
    if (m_pTls) {
      if (!m_pTls->IsEstablished()) {
        return 0;
      }
      // A record at a time, so that a long message is held once, as
      // ciphertext in the send buffer, and not also whole inside OpenSSL.
      for (DWORD offset = 0; offset < p_dwLength; offset += kTlsRecordSize) {
        if (!m_pTls->WritePlain(p_pData + offset, std::min(kTlsRecordSize, p_dwLength - offset))) {
          return 0;
        }
        FlushTlsOutgoing();
      }
      return p_dwLength;
    }
    if (!m_sendBuffer.Append(p_pData, p_dwLength)) {
      return 0;
    }
    SendData(SOCKET_NO_ERROR);
    return p_dwLength;
  });
}

DWORD TcpNonBlockingLineSocket::ReceiveLine(std::string& p_strLine) {
  return Guarded<kAbortAware>(kClassName, "ReceiveLine", DWORD{kNoLine}, [&]() -> DWORD {
    KestMT::AutoLockMutex bufferLock(&m_bufferMutex, INFINITE);
    // The buffer changes only under the buffer mutex, so the line is taken
    // first and the count it was taken from logged after: one trip into the
    // buffer per line.
    DWORD available = 0;
    const bool taken = m_receiveBuffer.TakeLine(p_strLine, available);
    Log(kClassName, kLogLevelTrace, "ReceiveLine(): Called with %lu available characters",
        static_cast<unsigned long>(available));
    if (available == 0) {
      return kNoLine;
    }
    if (!taken) {
      Log(kClassName, kLogLevelTrace, "ReceiveLine(): No LF found in available data");
      return kNoLine;
    }
    return static_cast<DWORD>(p_strLine.size());
  });
}

DWORD TcpNonBlockingLineSocket::GetReceivedSize() {
  return Guarded<kAbortAware>(kClassName, "GetReceivedSize", DWORD{0}, [&]() -> DWORD {
    KestMT::AutoLockMutex bufferLock(&m_bufferMutex, INFINITE);
    return m_receiveBuffer.GetSize();
  });
}

DWORD TcpNonBlockingLineSocket::GetReceivedByteCount() {
  return Guarded<kAbortAware>(kClassName, "GetReceivedByteCount", DWORD{0}, [&]() -> DWORD {
    KestMT::AutoLockMutex bufferLock(&m_bufferMutex, INFINITE);
    return m_dwReceivedByteCount;
  });
}

void TcpNonBlockingLineSocket::SetLineMode(bool p_bLineMode) {
  Guarded<kAbortAware>(kClassName, "SetLineMode", [&] {
    KestMT::AutoLockMutex bufferLock(&m_bufferMutex, INFINITE);
    m_bLineMode = p_bLineMode;
  });
}

void TcpNonBlockingLineSocket::ClearReceiveBuffer() {
  Guarded<kAbortAware>(kClassName, "ClearReceiveBuffer", [&] {
    KestMT::AutoLockMutex bufferLock(&m_bufferMutex, INFINITE);
    m_dwReceivedByteCount = 0;
    m_dwUnterminatedLength = 0;
    m_receiveBuffer.Clear();
  });
}

DWORD TcpNonBlockingLineSocket::GetPendingSendSize() {
  return Guarded<kAbortAware>(kClassName, "GetPendingSendSize", DWORD{0}, [&]() -> DWORD {
    KestMT::AutoLockMutex bufferLock(&m_bufferMutex, INFINITE);
    return m_sendBuffer.GetSize();
  });
}

bool TcpNonBlockingLineSocket::IsClosing() { return m_bClosing.load(std::memory_order_acquire); }

void TcpNonBlockingLineSocket::ReceiveData(DWORD p_dwResult) {
  Guarded<kAbortAware>(kClassName, "ReceiveData", [&] {
    KestMT::AutoLockMutex bufferLock(&m_bufferMutex, INFINITE);
    BYTE chunk[kChunkSize];
    for (;;) {
      const DWORD received = ReadChunk(chunk, kChunkSize);
      if (received == 0) {
        return;
      }
      m_dwReceivedByteCount += received;
      Log(kClassName, kLogLevelTrace, "ReceiveData(): Size = %lu",
          static_cast<unsigned long>(received));
      m_receiveBuffer.Append(chunk, received);
      if (m_bLineMode) {
        // The closing flag can only matter where a line is about to be
        // announced or has just been: it is read there, not after every byte.
        if (IsClosing()) {
          return;
        }
        for (DWORD index = 0; index < received; ++index) {
          if (chunk[index] != kLineFeed) {
            if (++m_dwUnterminatedLength > kMaxLineLength) {
              CloseOverlongLine();
              return;
            }
            continue;
          }
          m_dwUnterminatedLength = 0;
          if (m_pLineListener != nullptr) {
            if (IsClosing()) {
              return;
            }
            Log(kClassName, kLogLevelTrace, "ReceiveData(): NL found at index %lu",
                static_cast<unsigned long>(index));
            m_pLineListener->OnReceiveLine(this, p_dwResult);
            if (IsClosing()) {
              return;
            }
          }
        }
      }
      if (m_pLineListener != nullptr) {
        m_pLineListener->OnReceive(this, p_dwResult);
      }
      if (IsClosing()) {
        return;
      }
    }
  });
}

bool TcpNonBlockingLineSocket::StartTls(const TlsSettings& p_settings) {
  return Guarded<kAbortAware>(kClassName, "StartTls", false, [&] {
    KestMT::AutoLockMutex socketLock(GetSocketMutex(), INFINITE);
    KestMT::AutoLockMutex bufferLock(&m_bufferMutex, INFINITE);
    if (m_pTls || !IsCreated()) {
      return false;
    }
    m_receiveBuffer.Clear();
    m_dwUnterminatedLength = 0;
    m_pTls = std::make_unique<TlsSession>(p_settings);
    FlushTlsOutgoing();  // the ClientHello
    if (m_pTls->Outcome().failure.empty()) {
      return true;
    }
    FinishHandshake();
    return false;
  });
}

DWORD TcpNonBlockingLineSocket::ReadChunk(BYTE* p_pBuffer, DWORD p_dwCapacity) {
  if (!m_pTls) {
    return TcpNonBlockingClientSocket::Receive(p_pBuffer, p_dwCapacity);
  }
  return ReadTlsChunk(p_pBuffer, p_dwCapacity);
}

DWORD TcpNonBlockingLineSocket::ReadTlsChunk(BYTE* p_pBuffer, DWORD p_dwCapacity) {
  BYTE raw[kChunkSize];
  for (;;) {
    if (m_pTls->IsEstablished()) {
      const long plain = m_pTls->ReadPlain(p_pBuffer, p_dwCapacity);
      FlushTlsOutgoing();  // a key update may want an answer
      if (plain > 0) {
        return static_cast<DWORD>(plain);
      }
      if (plain < 0) {
        CloseOnTlsFailure();
        return 0;
      }
    }
    const DWORD received = TcpNonBlockingClientSocket::Receive(raw, kChunkSize);
    if (received == 0 || IsClosing()) {
      return 0;
    }
    if (!m_pTls->Feed(raw, received)) {
      CloseOnTlsFailure();
      return 0;
    }
    if (!m_pTls->IsEstablished()) {
      const TlsSession::Progress progress = m_pTls->Handshake();
      FlushTlsOutgoing();
      if (progress == TlsSession::Progress::kInProgress) {
        continue;
      }
      FinishHandshake();
      if (progress == TlsSession::Progress::kFailed || IsClosing()) {
        return 0;
      }
    }
  }
}

void TcpNonBlockingLineSocket::FlushTlsOutgoing() {
  bool queued = false;
  const bool drained = m_pTls->DrainOutgoing([&](const unsigned char* p_pData, std::size_t p_length) {
    queued = m_sendBuffer.Append(p_pData, static_cast<DWORD>(p_length));
    return queued;
  });
  if (!drained) {
    Log(kClassName, kLogLevelWarning, "FlushTlsOutgoing(): Could not queue the TLS data.");
    return;
  }
  if (queued) {
    SendData(SOCKET_NO_ERROR);
  }
}

void TcpNonBlockingLineSocket::FinishHandshake() {
  const TlsHandshakeOutcome outcome = m_pTls->Outcome();
  Log(kClassName, outcome.established ? kLogLevelTrace : kLogLevelInformation, "StartTls(): Handshake %s%s",
      outcome.established ? "done" : "failed: ", outcome.failure.c_str());
  if (m_pLineListener != nullptr) {
    m_pLineListener->OnTlsHandshake(this, outcome);
  }
  if (!outcome.established) {
    CloseOnTlsFailure();
  }
}

void TcpNonBlockingLineSocket::CloseOnTlsFailure() {
  {
    KestMT::AutoLockMutex closeLock(&m_closeMutex, INFINITE);
    if (m_bClosing.load(std::memory_order_acquire)) {
      return;
    }
    m_bClosing.store(true, std::memory_order_release);
  }
  TcpNonBlockingClientSocket::OnClose(kestnet::platform::winsock::kConnectionAborted);
  m_receiveBuffer.Clear();
}

void TcpNonBlockingLineSocket::CloseOverlongLine() {
  Log(kClassName, kLogLevelWarning,
      "ReceiveData(): No LF within %lu bytes.  Closing the connection.",
      static_cast<unsigned long>(kMaxLineLength));
  {
    KestMT::AutoLockMutex closeLock(&m_closeMutex, INFINITE);
    m_bClosing.store(true, std::memory_order_release);
  }
  // The base's close path: the socket is closed here, on the event thread,
  // and the listener hears its one OnClose with the reason.
  TcpNonBlockingClientSocket::OnClose(kestnet::platform::winsock::kMessageTooLong);
  m_receiveBuffer.Clear();
}

void TcpNonBlockingLineSocket::SendData(DWORD p_dwResult) {
  Guarded<kAbortAware>(kClassName, "SendData", [&] {
    KestMT::AutoLockMutex bufferLock(&m_bufferMutex, INFINITE);
    Log(kClassName, kLogLevelTrace, "SendData(): SendData begin.");
    if (m_sendBuffer.GetSize() == 0) {
      Log(kClassName, kLogLevelTrace,
          "SendData(): No data in the send buffer.  Passing OnSend to caller.");
      if (m_pLineListener != nullptr) {
        m_pLineListener->OnSend(this, p_dwResult);
      }
      return;
    }
    const CorkedRun run(*this, m_sendBuffer.GetSize() > kChunkSize);
    while (m_sendBuffer.GetSize() > 0) {
      const DWORD wanted = std::min(m_sendBuffer.GetSize(), kChunkSize);
      if (!m_sendBuffer.GetData(m_staging, wanted, false)) {
        Log(kClassName, kLogLevelWarning,
            "SendData(): Could not acquire data from the send buffer.  Aborting send.");
        return;
      }
      const DWORD sent = TcpNonBlockingClientSocket::Send(m_staging, wanted);
      if (sent == 0) {
        Log(kClassName, kLogLevelTrace,
            "SendData(): Socket send queue full.  No data could be sent.  Waiting for next OnSend");
        return;
      }
      Log(kClassName, kLogLevelTrace, "SendData(): Sent %lu bytes of data from the send queue",
          static_cast<unsigned long>(sent));
      if (!m_sendBuffer.Remove(sent)) {
        Log(kClassName, kLogLevelWarning,
            "SendData(): Could not remove data from the send buffer that was actually sent.  "
            "Aborting send.");
        return;
      }
      if (sent < wanted) {
        Log(kClassName, kLogLevelTrace,
            "SendData(): Socket send queue full.  Only partial data could be sent.  Waiting for "
            "next OnSend");
        return;
      }
      if (IsClosing()) {
        return;
      }
    }
  });
}

void TcpNonBlockingLineSocket::InternalListener::OnAccept(DWORD_PTR, DWORD p_dwResult) {
  Log(kListenerClassName, kLogLevelTrace, "OnAccept(): rc = %lu",
      static_cast<unsigned long>(p_dwResult));
  if (m_pOwner->m_pLineListener != nullptr) {
    m_pOwner->m_pLineListener->OnAccept(m_pOwner, p_dwResult);
  }
}

void TcpNonBlockingLineSocket::InternalListener::OnClose(DWORD_PTR, DWORD p_dwResult) {
  Log(kListenerClassName, kLogLevelTrace, "OnClose(): rc = %lu",
      static_cast<unsigned long>(p_dwResult));
  Guarded(kListenerClassName, "OnClose", [&] {
    KestMT::AutoLockMutex bufferLock(&m_pOwner->m_bufferMutex, INFINITE);
    TcpNonBlockingLineSocketListener* listener = m_pOwner->m_pLineListener;
    if (listener == nullptr) {
      return;
    }
    // Cleared first: nothing reaches the listener after its OnClose, even
    // from a receive loop that is unwinding.
    m_pOwner->m_pLineListener = nullptr;
    {
      KestMT::AutoLockMutex closeLock(&m_pOwner->m_closeMutex, INFINITE);
      m_pOwner->m_bClosing.store(true, std::memory_order_release);
    }
    listener->OnClose(m_pOwner, p_dwResult);
  });
}

void TcpNonBlockingLineSocket::InternalListener::OnConnect(DWORD_PTR, DWORD p_dwResult) {
  Log(kListenerClassName, kLogLevelTrace, "OnConnect(): rc = %lu",
      static_cast<unsigned long>(p_dwResult));
  if (m_pOwner->m_pLineListener != nullptr) {
    m_pOwner->m_pLineListener->OnConnect(m_pOwner, p_dwResult);
  }
}

void TcpNonBlockingLineSocket::InternalListener::OnOutOfBandData(DWORD_PTR, DWORD p_dwResult) {
  Log(kListenerClassName, kLogLevelTrace, "OnOutOfBandData(): rc = %lu",
      static_cast<unsigned long>(p_dwResult));
  if (m_pOwner->m_pLineListener != nullptr) {
    m_pOwner->m_pLineListener->OnOutOfBandData(m_pOwner, p_dwResult);
  }
}

void TcpNonBlockingLineSocket::InternalListener::OnReceive(DWORD_PTR, DWORD p_dwResult) {
  Log(kListenerClassName, kLogLevelTrace, "OnReceive(): rc = %lu",
      static_cast<unsigned long>(p_dwResult));
  m_pOwner->ReceiveData(p_dwResult);
}

void TcpNonBlockingLineSocket::InternalListener::OnSend(DWORD_PTR, DWORD p_dwResult) {
  Log(kListenerClassName, kLogLevelTrace, "OnSend(): rc = %lu",
      static_cast<unsigned long>(p_dwResult));
  m_pOwner->SendData(p_dwResult);
}

}  // namespace KestNet

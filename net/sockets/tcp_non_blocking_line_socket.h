// KestNet::TcpNonBlockingLineSocket: the TCP client the mail clients and the
// TCP test object use. It buffers everything the peer sends, announces each
// line feed to its listener (which then takes the line with ReceiveLine), and
// queues whatever the operating system cannot take at once, sending it as the
// socket becomes writable again, in order and without loss.
//
// A line is bounded: in line mode a peer that sends more than kMaxLineLength
// bytes without a line feed is cut off through the close path (the listener
// hears OnClose with SOCKET_MESSAGE_TOO_LONG), so a hostile or broken server
// cannot make the buffer grow without end. The socket is byte-transparent
// otherwise: a NUL is an ordinary byte of its line (the protocol above decides
// what it means), and neither ends nor cuts it.
//
// The line socket is the listener of its own TCP base through
// InternalListener; its user implements TcpNonBlockingLineSocketListener.
//
// TLS: StartTls puts a client TLS session (TlsSession, on memory BIOs)
// between the socket and the buffers, at once for implicit TLS or after a
// server's go-ahead to STARTTLS. From then on raw bytes read go into the
// session and only decrypted bytes reach the receive buffer (lines are
// announced as before); Send encrypts and queues the ciphertext as before.
// The session lives under the buffer mutex. Plain text the server sent after
// its go-ahead is dropped, never taken for protected data (RFC 3207 §4.2).
// The listener hears the handshake's end through OnTlsHandshake; a failed
// handshake then closes the connection (OnClose with SOCKET_GENERIC_ERROR).
//
// Lock order: socket mutex (the base's), then the buffer mutex, then the close
// mutex. Every entry point that may reach the base socket takes the socket
// mutex first, which is also the order of the event thread's notifications,
// so the two sides never wait for each other in opposite orders. All three
// are recursive: a listener may call ReceiveLine, Receive or Send from inside
// its notifications.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "net/sockets/dyna_byte_buffer.h"
#include "net/sockets/socket_listeners.h"
#include "net/sockets/tcp_non_blocking_client_socket.h"
#include "platform/os/win_types.h"
#include "runtime/mutex.h"

namespace KestNet {

class TcpNonBlockingLineSocket;
class TlsSession;
struct TlsSettings;
struct TlsHandshakeOutcome;

// Result codes are the SOCKET_* codes; the line socket passes itself first.
class TcpNonBlockingLineSocketListener {
 public:
  virtual void OnAccept(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) = 0;
  virtual void OnClose(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) = 0;
  virtual void OnConnect(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) = 0;
  virtual void OnOutOfBandData(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) = 0;
  virtual void OnReceive(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) = 0;
  virtual void OnSend(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) = 0;
  // One call per line feed received (in line mode); the listener is expected
  // to call ReceiveLine once.
  virtual void OnReceiveLine(TcpNonBlockingLineSocket* p_pSocket, DWORD p_dwResult) = 0;
  // The TLS handshake StartTls began has ended; a failure is followed by
  // OnClose. Only listeners that start TLS need it.
  virtual void OnTlsHandshake(TcpNonBlockingLineSocket*, const TlsHandshakeOutcome&) {}

 protected:
  ~TcpNonBlockingLineSocketListener() = default;
};

class TcpNonBlockingLineSocket : public TcpNonBlockingClientSocket {
 public:
  static constexpr DWORD kNoLine = 0xFFFFFFFFu;
  // Data moves in chunks of at most this many bytes in both directions.
  static constexpr DWORD kChunkSize = 512;
  // The longest line held without its line feed. Mail lines are at most 998
  // octets (RFC 5322 §2.1.1); 64 KiB leaves room for lax servers, as curl's
  // pingpong reader does.
  static constexpr DWORD kMaxLineLength = 64 * 1024;

  // The base socket's listener: forwards to the line listener and runs the
  // receive and send paths.
  class InternalListener : public TcpNonBlockingSocketListener {
   public:
    explicit InternalListener(TcpNonBlockingLineSocket* p_pOwner) : m_pOwner(p_pOwner) {}
    virtual ~InternalListener() = default;
    void OnAccept(DWORD_PTR p_dwSocketId, DWORD p_dwResult) override;
    void OnClose(DWORD_PTR p_dwSocketId, DWORD p_dwResult) override;
    void OnConnect(DWORD_PTR p_dwSocketId, DWORD p_dwResult) override;
    void OnOutOfBandData(DWORD_PTR p_dwSocketId, DWORD p_dwResult) override;
    void OnReceive(DWORD_PTR p_dwSocketId, DWORD p_dwResult) override;
    void OnSend(DWORD_PTR p_dwSocketId, DWORD p_dwResult) override;

   private:
    TcpNonBlockingLineSocket* m_pOwner;  // not owned: the line socket holds this object
  };

  TcpNonBlockingLineSocket();
  // Closes a socket still open (its listener hears OnClose on this thread).
  ~TcpNonBlockingLineSocket() override;

  // The socket id, or 0. Resets both buffers, the byte counter, line mode
  // (on) and the closing flag. Port 0: no local bind.
  virtual DWORD_PTR Create(TcpNonBlockingLineSocketListener* p_pListener, USHORT p_usLocalPort = 0,
                           const IPAddress& p_localAddress = IPAddress("0.0.0.0"));
  // A line socket needs a line listener: this form always fails.
  DWORD_PTR Create(TcpNonBlockingSocketListener* p_pListener, USHORT p_usLocalPort,
                   const IPAddress& p_localAddress) override;
  // Sets the closing flag, which ends a receive or send loop in progress at
  // its next check, then closes as the base socket does.
  void Close(bool p_bImmediate) override;
  // Bytes copied from the receive buffer (and removed; Peek leaves them).
  DWORD Receive(BYTE* p_pBuffer, DWORD p_dwCapacity) override;
  DWORD Peek(BYTE* p_pBuffer, DWORD p_dwCapacity) override;
  // Queues the data and sends what the socket takes now; the rest leaves on
  // the next send notifications. Returns p_dwLength (0 for no data); never
  // blocks and never refuses data.
  DWORD Send(const BYTE* p_pData, DWORD p_dwLength) override;

  // The first line held, without its terminator (LF, CR LF or LF CR), and its
  // length; kNoLine when no whole line is held (nothing is removed then).
  virtual DWORD ReceiveLine(std::string& p_strLine);
  virtual DWORD GetReceivedSize();
  // Bytes received since the last ClearReceiveBuffer (or Create).
  virtual DWORD GetReceivedByteCount();
  virtual void SetLineMode(bool p_bLineMode);
  virtual void ClearReceiveBuffer();
  // Bytes handed to Send that have not left yet.
  DWORD GetPendingSendSize();
  // Starts a client TLS handshake on the connected socket and drops the
  // plain bytes still unread. false when TLS is on already or the session
  // could not be set up (the connection is then closed as a failed
  // handshake). Sends are refused until the handshake has ended.
  bool StartTls(const TlsSettings& p_settings);

 private:
  // Reads the socket dry into the receive buffer and announces lines and
  // data. Socket mutex held (event thread).
  void ReceiveData(DWORD p_dwResult);
  // Sends from the send buffer until it is empty or the socket is full.
  // Socket mutex held.
  void SendData(DWORD p_dwResult);
  bool IsClosing();
  // The next bytes for the receive buffer: read from the socket, or with
  // TLS on, decrypted from what the socket gives. Socket and buffer mutexes
  // held.
  DWORD ReadChunk(BYTE* p_pBuffer, DWORD p_dwCapacity);
  DWORD ReadTlsChunk(BYTE* p_pBuffer, DWORD p_dwCapacity);
  // Queues and sends what the TLS session has to send. Buffer mutex held.
  void FlushTlsOutgoing();
  // Reports the handshake's end; a failure closes the connection. Socket and
  // buffer mutexes held.
  void FinishHandshake();
  // Ends a connection whose TLS session broke. Socket and buffer mutexes
  // held (event thread).
  void CloseOnTlsFailure();
  // Ends a connection whose peer overran kMaxLineLength. Socket and buffer
  // mutexes held (event thread).
  void CloseOverlongLine();
  DWORD CopyReceived(BYTE* p_pBuffer, DWORD p_dwCapacity, bool p_bRemove, const char* p_szWho);

  InternalListener m_internalListener;
  // The TLS session, once StartTls ran; m_bufferMutex.
  std::unique_ptr<TlsSession> m_pTls;
  TcpNonBlockingLineSocketListener* m_pLineListener = nullptr;  // not owned
  DynaByteBuffer m_receiveBuffer;
  DynaByteBuffer m_sendBuffer;
  BYTE m_staging[kChunkSize];
  DWORD m_dwReceivedByteCount = 0;
  // Bytes received in line mode since the last line feed; m_bufferMutex.
  DWORD m_dwUnterminatedLength = 0;
  bool m_bLineMode = true;
  KestMT::Mutex m_bufferMutex;
  KestMT::Mutex m_closeMutex;
  // Set and cleared under m_closeMutex; read without it, since the receive
  // loop asks before and after every line it announces.
  std::atomic<bool> m_bClosing{false};
};

}  // namespace KestNet

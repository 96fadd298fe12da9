// What the scriptable mail objects (KestNetPOP3, KestNetSMTP and their
// secure variants) share: the way a listener callback becomes a posted event
// record and a posted record becomes a fired event, the texts in which the
// plain and the secure objects differ, and the conversions between a
// KestNetMessageData and the mail clients' messages.
//
// A callback runs on a client's thread with the client's mutex held: it only
// copies its arguments into a record and posts it. Everything that touches a
// KestNetMessageData runs on the object's own thread.
#pragma once

#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "automation/async_event_window.h"
#include "automation/interfaces.h"
#include "automation/method_guard.h"
#include "net/mail/mime.h"
#include "platform/com/atl_bstr.h"
#include "platform/com/atl_ptr.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"

namespace KestAXLib {

// The log lines in which the plain and the secure objects differ (the
// secure ones were written without the final full stops).
struct MailObjectTexts {
  const char* unknownExceptionFormat;  // a callback's or handler's catch-all, "%s" the method
  const char* alreadySending;
  const char* invalidMessage;
  const char* noSender;
  const char* noRecipient;
};

// Inline: the module and a program linking the framework both hold them.
inline constexpr MailObjectTexts kPlainMailObjectTexts{
    "%s():  Error - Unknown Exception.",
    "SendMessage():  Error - Already sending a message; you can't send two emails simultaneously.",
    "SendMessage():  Error - Invalid Message Object.",
    "SendMessage():  Error - Message Object does not contain a valid sender.",
    "SendMessage():  Error - Message Object does not contain a valid recipient.",
};

inline constexpr MailObjectTexts kSecureMailObjectTexts{
    "%s():  Error - Unknown Exception",
    "SendMessage():  Error - Already sending a message; you can't send two emails simultaneously",
    "SendMessage():  Error - Invalid Message object",
    "SendMessage():  Error - Message object does not contain a valid sender",
    "SendMessage():  Error - Message object does not contain a valid recipient",
};

// The body of a listener callback: a new Record filled by fill, posted to
// window as eventId. A record that cannot be had logs "<callback>():  Error -
// Failed to get allocate a buffer." and nothing is posted; nothing escapes.
template <class Record, typename Fill>
void PostMailEvent(const ObjectIdentity& who, const MailObjectTexts& texts, KestBase::CAsyncEventMgrWnd& window,
                   const char* callbackName, DWORD eventId, Fill&& fill) noexcept {
  try {
    std::unique_ptr<Record> record(new (std::nothrow) Record());
    if (record != nullptr) {
      fill(*record);
      window.PostAsyncEvent(eventId, record.release());
      return;
    }
  } catch (const std::bad_alloc&) {
  } catch (...) {
    Log(who.className, kLogLevelError, texts.unknownExceptionFormat, callbackName);
    return;
  }
  Log(who.className, kLogLevelWarning, "%s():  Error - Failed to get allocate a buffer.", callbackName);
}

// One row of an object's event table: the record's event id and the member
// that fires its event.
template <class Object, class Record>
struct MailEventHandler {
  DWORD eventId;
  void (Object::*fire)(Record& record);
};

// HandleAsyncEventMessage of a mail object: finds eventId in handlers, fires
// and deletes the record. An unknown id logs "HandleAsyncEventMessage():
// ERROR - Unknown Event!"; nothing escapes.
template <class Object, class Record>
void DispatchMailEvent(const ObjectIdentity& who, const MailObjectTexts& texts,
                       std::span<const MailEventHandler<Object, Record>> handlers, Object& object, DWORD eventId,
                       KestBase::CAsyncEventData* record) noexcept {
  std::unique_ptr<KestBase::CAsyncEventData> owned(record);
  try {
    for (const MailEventHandler<Object, Record>& handler : handlers) {
      if (handler.eventId != eventId) continue;
      Record* typed = KestBase::AsEventRecord<Record>(who.className, eventId, record);
      if (typed != nullptr) (object.*handler.fire)(*typed);
      return;
    }
    Log(who.className, kLogLevelWarning, "HandleAsyncEventMessage():  ERROR - Unknown Event!");
  } catch (...) {
    Log(who.className, kLogLevelError, texts.unknownExceptionFormat, "HandleAsyncEventMessage");
  }
}

// A BSTR event argument; running out of memory throws E_OUTOFMEMORY.
ATL::CComBSTR MailEventText(const std::string& narrow);

// A getter's new BSTR of a client's narrow text; running out of memory
// throws KestBase::OutOfMemoryException.
BSTR NewPropertyText(const std::string& narrow);

// A script's text for a client: narrow (UTF-8).
std::string NarrowText(BSTR text);

// SendMessage's view of a KestNetMessageData, read in the order the checks
// need it.
struct OutgoingMessage {
  ATL::CComPtr<IKestNetMessageData> message;
  std::wstring from;
  // The bodies in UTF-8. An ASCII body of this module's own message is
  // borrowed from it (`message` keeps it alive; nothing here changes a
  // body), sparing a copy of megabytes; any other is converted into the
  // owned string.
  const std::string* borrowedText = nullptr;
  const std::string* borrowedHtml = nullptr;
  std::string ownedText;
  std::string ownedHtml;

  const std::string& Text() const { return borrowedText != nullptr ? *borrowedText : ownedText; }
  const std::string& Html() const { return borrowedHtml != nullptr ? *borrowedHtml : ownedHtml; }
};

// Checks and reads messageData for SendMessage: the interface (else
// texts.invalidMessage), From (else texts.noSender), then To (else
// texts.noRecipient), each refusal an InvalidParameterException; then the
// two bodies.
OutgoingMessage ReadOutgoingMessage(const ObjectIdentity& who, const MailObjectTexts& texts, IDispatch* messageData);

// The MIME message of an outgoing message: multipart/alternative (HTML part
// first) when it has both bodies, else the one body, every body UTF-8 in
// Base64 under a top-level Base64 transfer encoding. A message without a
// Date or an X-Mailer gets them written into it first. Each header line that
// parses as "name: value" is copied (Subject as encoded words); other lines
// are left out.
std::unique_ptr<KestNet::MIME> ComposeMime(const OutgoingMessage& outgoing);

// The recipients of a message for the client: To, Cc and Bcc, each followed
// by ";".
std::string RecipientList(IKestNetMessageData* message);

// SendMessage of the SMTP objects: refuses a second message while sending
// is set (texts.alreadySending, InvalidOperationException), reads and checks
// messageData, composes its MIME and hands both to start, which starts the
// client's send. Only once start has returned does the new MIME replace
// current (the client no longer reads the old one) and sending get set.
template <typename Start>
void SendMailMessage(const ObjectIdentity& who, const MailObjectTexts& texts, bool& sending,
                     std::unique_ptr<KestNet::MIME>& current, IDispatch* messageData, Start&& start) {
  if (sending) {
    Log(who.className, kLogLevelWarning, "%s", texts.alreadySending);
    throw KestBase::InvalidOperationException();
  }
  const OutgoingMessage outgoing = ReadOutgoingMessage(who, texts, messageData);
  std::unique_ptr<KestNet::MIME> mime = ComposeMime(outgoing);
  start(outgoing, *mime);
  current = std::move(mime);
  sending = true;
}

// A new KestNetMessageData given site (which may be null); null after a
// logged failure.
ATL::CComPtr<IKestNetMessageData> CreateMessageDataWithSite(const ObjectIdentity& who, IUnknown* site);

// The message a retrieve event hands over: a new KestNetMessageData with
// site, left empty unless status is 0; then each header line is added as it
// stands and the body lines, each followed by CR LF, make both TextMessage
// and HtmlMessage. Null after a logged failure to create it.
ATL::CComPtr<IKestNetMessageData> RetrievedMessage(const ObjectIdentity& who, IUnknown* site, DWORD status,
                                                   const std::vector<std::string>& headerLines,
                                                   const std::vector<std::string>& bodyLines);

// Splits a retrieved message's lines at the end of its header block: the
// header lines (those with a colon, and the folded continuations of one),
// then the lines after the first other line, which ends the block and
// belongs to neither.
void SplitRetrievedLines(const std::vector<std::string>& lines, std::vector<std::string>& headerLines,
                         std::vector<std::string>& bodyLines);

}  // namespace KestAXLib

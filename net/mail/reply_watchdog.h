// KestNet::ReplyWatchdog: the idle limit a mail client puts on every reply it
// waits for, so that a server that stops answering cannot hold the client for
// ever. KestNet::MailTimeouts: the limits themselves.
//
// The client arms the watchdog whenever it starts to wait for a reply and
// disarms it when it stops waiting; each Arm restarts the period. When a
// period passes while armed, the expiry callback runs on the watchdog's own
// thread, which exists from construction to destruction.
//
// Lock order: the owner's mutex, then the watchdog's. The callback runs
// without the watchdog's lock, so it may take the owner's mutex and close the
// owner's socket (whose OnClose takes the owner's mutex again). Since an
// expiry can race with the reply it was waiting for, the callback confirms it
// under the owner's mutex with TakeExpiry before acting on it. The owner must
// not hold its mutex while destroying the watchdog: destruction joins the
// thread, which may be inside the callback waiting for that very mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace KestNet {

struct MailTimeouts {
  // RFC 1939 §3: a server's inactivity timer is at least 10 minutes; a
  // client waits as long for any one reply.
  std::chrono::milliseconds pop3Reply = std::chrono::minutes(10);
  // RFC 5321 §4.5.3.2: 5 minutes for a command's reply (the greeting, MAIL,
  // RCPT), 10 minutes for the reply to the "." that ends a message.
  std::chrono::milliseconds smtpReply = std::chrono::minutes(5);
  std::chrono::milliseconds smtpDataTermination = std::chrono::minutes(10);
};

class ReplyWatchdog {
 public:
  explicit ReplyWatchdog(std::function<void()> p_onExpired);
  // Stops and joins the thread: the callback is not running and never runs
  // again once this returns.
  ~ReplyWatchdog();
  ReplyWatchdog(const ReplyWatchdog&) = delete;
  ReplyWatchdog& operator=(const ReplyWatchdog&) = delete;

  // Starts (or restarts) the period; a pending expiry is forgotten.
  void Arm(std::chrono::milliseconds p_period);
  // Stops waiting; a pending expiry is forgotten.
  void Disarm();
  // True once for the period that expired last, unless Arm or Disarm came
  // after the expiry: the callback's check that the expiry still stands.
  bool TakeExpiry();
  // The period of the last Arm.
  std::chrono::milliseconds GetPeriod();

 private:
  void Run();

  const std::function<void()> m_onExpired;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::chrono::steady_clock::time_point m_deadline;  // m_lock
  // When the thread's current wait ends on its own: max while it waits
  // unarmed, min while it is awake (it re-checks everything before waiting
  // again). Arm wakes the thread only when the new deadline comes before
  // this; a later deadline is found when the earlier wait ends, so re-arming
  // once per received line costs no wake-up and no context switch.
  std::chrono::steady_clock::time_point m_wakeAt =
      std::chrono::steady_clock::time_point::min();  // m_lock
  std::chrono::milliseconds m_period{0};             // m_lock
  bool m_bArmed = false;                             // m_lock
  bool m_bExpired = false;                           // m_lock
  bool m_bStopping = false;                          // m_lock
  std::thread m_thread;  // last: starts once every field above exists
};

}  // namespace KestNet

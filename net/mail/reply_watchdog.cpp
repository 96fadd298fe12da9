#include "net/mail/reply_watchdog.h"

#include <utility>

namespace KestNet {

ReplyWatchdog::ReplyWatchdog(std::function<void()> p_onExpired)
    : m_onExpired(std::move(p_onExpired)), m_thread([this] { Run(); }) {}

ReplyWatchdog::~ReplyWatchdog() {
  {
    std::lock_guard lock(m_lock);
    m_bStopping = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

void ReplyWatchdog::Arm(std::chrono::milliseconds p_period) {
  bool wake;
  {
    std::lock_guard lock(m_lock);
    m_period = p_period;
    m_deadline = std::chrono::steady_clock::now() + p_period;
    m_bArmed = true;
    m_bExpired = false;
    wake = m_deadline < m_wakeAt;
  }
  if (wake) {
    m_changed.notify_all();
  }
}

void ReplyWatchdog::Disarm() {
  std::lock_guard lock(m_lock);
  // No wake-up needed: the thread re-checks the flag when its wait ends.
  m_bArmed = false;
  m_bExpired = false;
}

bool ReplyWatchdog::TakeExpiry() {
  std::lock_guard lock(m_lock);
  return std::exchange(m_bExpired, false);
}

std::chrono::milliseconds ReplyWatchdog::GetPeriod() {
  std::lock_guard lock(m_lock);
  return m_period;
}

void ReplyWatchdog::Run() {
  std::unique_lock lock(m_lock);
  for (;;) {
    if (m_bStopping) {
      return;
    }
    if (!m_bArmed) {
      m_wakeAt = std::chrono::steady_clock::time_point::max();
      m_changed.wait(lock);
      m_wakeAt = std::chrono::steady_clock::time_point::min();
      continue;
    }
    if (std::chrono::steady_clock::now() < m_deadline) {
      // A copy: Arm moves m_deadline while this wait lasts.
      const auto wakeAt = m_deadline;
      m_wakeAt = wakeAt;
      m_changed.wait_until(lock, wakeAt);
      m_wakeAt = std::chrono::steady_clock::time_point::min();
      continue;
    }
    m_bArmed = false;
    m_bExpired = true;
    // Without the lock: the callback takes the owner's mutex, under which the
    // owner calls Arm and Disarm.
    lock.unlock();
    if (m_onExpired) {
      m_onExpired();
    }
    lock.lock();
  }
}

}  // namespace KestNet

// The live handles of one kind of platform object (an enumeration, a find):
// a handle is valid from Add until Remove, and a handle that was never given
// or was already closed is recognised as such, so a call on it fails with
// ERROR_INVALID_HANDLE instead of touching freed memory.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/os/win_types.h"

namespace kestnet::platform::smb {

template <typename Object>
class HandleRegistry {
 public:
  // The handle is the object's address, so handles of live objects never
  // repeat; a closed object's address may return for a later one.
  HANDLE Add(std::shared_ptr<Object> p_object) {
    HANDLE handle = p_object.get();
    std::lock_guard<std::mutex> guard(m_lock);
    m_objects.emplace(handle, std::move(p_object));
    return handle;
  }

  // Null for a handle that is not live. The caller's reference keeps the
  // object alive while another thread closes the handle.
  std::shared_ptr<Object> Find(HANDLE p_handle) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_objects.find(p_handle);
    return found == m_objects.end() ? nullptr : found->second;
  }

  // False for a handle that is not live.
  bool Remove(HANDLE p_handle) {
    std::shared_ptr<Object> removed;
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_objects.find(p_handle);
    if (found == m_objects.end()) return false;
    removed = std::move(found->second);
    m_objects.erase(found);
    return true;
  }

 private:
  mutable std::mutex m_lock;
  std::unordered_map<HANDLE, std::shared_ptr<Object>> m_objects;
};

}  // namespace kestnet::platform::smb

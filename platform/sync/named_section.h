// One named kernel object's shared memory file (see named_objects.h for where
// they live, their lifetime and permissions).
//
// For the platform layer only. A file holds a header page: a small header that
// says what kind of object it is, then the object's state; a file mapping's
// data follows at offset kHeaderPage. A process maps each file once, however
// many handles it opens to the name, so a process-shared lock in it has one
// address per process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/os/win_types.h"

namespace kestnet::platform {

enum class NamedKind : std::uint32_t { Event = 1, Mutex = 2, FileMapping = 3 };

class ObjectDirectory;

class NamedSection {
 public:
  static constexpr std::size_t kHeaderPage = 4096;
  // Bytes of the header page available to the object's state.
  static constexpr std::size_t kStateBytes = 1024;

  // Opens the object called name, or creates it when it does not exist
  // (createIfMissing): dataSize bytes of data after the header page,
  // initState(state) run on the state before any other process can see it.
  // *existed tells which happened. fileMode 0666 makes an object for every
  // account (machine-wide), 0600 one for this account only; opening looks in
  // both (see named_objects.h). On failure returns nullptr and sets the last
  // error: ERROR_FILE_NOT_FOUND (missing, not creating),
  // ERROR_INVALID_HANDLE (the name belongs to another kind of object, or its
  // file is not one this layer made), ERROR_ACCESS_DENIED, ERROR_TIMEOUT,
  // ERROR_INVALID_NAME / ERROR_FILENAME_EXCED_RANGE.
  static std::shared_ptr<NamedSection> Acquire(const std::wstring& name, NamedKind kind, bool createIfMissing,
                                               std::uint64_t dataSize, unsigned fileMode,
                                               const std::function<void(void*)>& initState, bool* existed);

  ~NamedSection();
  NamedSection(const NamedSection&) = delete;
  NamedSection& operator=(const NamedSection&) = delete;

  void* State() const;
  // Bytes of data after the header page, as checked against the file when it
  // was opened (never re-read: another process may write the header).
  std::uint64_t DataSize() const { return dataSize_; }
  int FileDescriptor() const { return fd_; }

 private:
  NamedSection(std::shared_ptr<ObjectDirectory> directory, std::string name, int fd, void* header,
               std::uint64_t dataSize);
  static std::shared_ptr<NamedSection> AcquireIn(std::shared_ptr<ObjectDirectory> directory, const std::string& name,
                                                 NamedKind kind, bool createIfMissing, std::uint64_t dataSize,
                                                 unsigned fileMode, const std::function<void(void*)>& initState,
                                                 bool onlyOurs, bool* existed);
  static void RemoveNamesAtExit();
  // Unlinks the name if no other process holds it (and this process opened it).
  void RemoveNameIfLastHolder();

  std::shared_ptr<ObjectDirectory> directory_;
  std::string name_;  // encoded, inside directory_
  std::string path_;
  int fd_;
  void* header_;
  std::uint64_t dataSize_;
  int openerProcess_;
};

// The wide form of a narrow (UTF-8) object name; empty for nullptr.
std::wstring ObjectNameFromUtf8(const char* text);

}  // namespace kestnet::platform

#include "platform/shm/file_mapping.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <new>

#include "platform/os/last_error.h"
#include "platform/os/security.h"
#include "platform/os/shared_mapping_guard.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/named_section.h"

namespace kestnet::platform {
namespace {

// Windows places views at multiples of the allocation granularity.
constexpr std::uint64_t kAllocationGranularity = 64 * 1024;
constexpr DWORD kSectionAttributeMask = 0xFF000000;  // SEC_COMMIT and friends: accepted, no effect

// A section: in a named file (data after the header page) or, unnamed, in an
// anonymous memory file this object owns.
class FileMappingObject final : public KernelObject {
 public:
  FileMappingObject(std::shared_ptr<NamedSection> section, bool readOnly)
      : section_(std::move(section)), size_(section_->DataSize()), readOnly_(readOnly) {}
  FileMappingObject(int memoryFile, std::uint64_t size, bool readOnly)
      : memoryFile_(memoryFile), size_(size), readOnly_(readOnly) {}
  ~FileMappingObject() override {
    if (memoryFile_ >= 0) ::close(memoryFile_);
  }
  FileMappingObject(const FileMappingObject&) = delete;
  FileMappingObject& operator=(const FileMappingObject&) = delete;

  ObjectKind Kind() const override { return ObjectKind::FileMapping; }
  std::uint64_t Size() const { return size_; }
  bool ReadOnly() const { return readOnly_; }
  int FileDescriptor() const { return section_ ? section_->FileDescriptor() : memoryFile_; }
  std::uint64_t FileOffsetOfData() const { return section_ ? NamedSection::kHeaderPage : 0; }

 private:
  std::shared_ptr<NamedSection> section_;
  int memoryFile_ = -1;
  std::uint64_t size_;
  bool readOnly_;
};

// Process-wide: every mapped view, by its address. A view holds its section,
// so closing the handle does not pull the memory away. Leaked on purpose.
struct ViewTable {
  struct View {
    std::shared_ptr<FileMappingObject> section;
    std::size_t length;
  };
  std::mutex mutex;
  std::map<const void*, View> views;
};

ViewTable& Views() {
  static ViewTable* table = new ViewTable();
  return *table;
}

HANDLE CreateSection(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect, DWORD sizeHigh, DWORD sizeLow,
                     const std::wstring* name) {
  if (file != INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  DWORD pageProtection = protect & ~kSectionAttributeMask;
  if (pageProtection != PAGE_READWRITE && pageProtection != PAGE_READONLY) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool readOnly = pageProtection == PAGE_READONLY;
  std::uint64_t size = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
  if (size == 0) {  // a paging-file section needs a size
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::shared_ptr<FileMappingObject> object;
  bool existed = false;
  try {
    if (name == nullptr || name->empty()) {
      int memoryFile = ::memfd_create("kestnet-section", MFD_CLOEXEC);
      if (memoryFile < 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
      }
      if (::ftruncate(memoryFile, static_cast<off_t>(size)) != 0) {
        ::close(memoryFile);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
      }
      object = std::make_shared<FileMappingObject>(memoryFile, size, readOnly);
    } else {
      auto section = NamedSection::Acquire(*name, NamedKind::FileMapping, true, size,
                                           NamedObjectFileMode(attributes), nullptr, &existed);
      if (!section) return nullptr;
      object = std::make_shared<FileMappingObject>(std::move(section), readOnly);
    }
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HANDLE handle = InsertHandle(std::move(object));
  if (handle != nullptr) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE OpenSection(DWORD access, const std::wstring& name) {
  if (name.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool existed = false;
  std::shared_ptr<FileMappingObject> object;
  try {
    auto section = NamedSection::Acquire(name, NamedKind::FileMapping, false, 0, 0600, nullptr, &existed);
    if (!section) return nullptr;
    // A handle opened for reading only maps read-only views.
    bool readOnly = (access & (FILE_MAP_WRITE | FILE_MAP_COPY)) == 0 && (access & FILE_MAP_READ) != 0;
    object = std::make_shared<FileMappingObject>(std::move(section), readOnly);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HANDLE handle = InsertHandle(std::move(object));
  if (handle != nullptr) SetLastError(ERROR_SUCCESS);
  return handle;
}

}  // namespace
}  // namespace kestnet::platform

using namespace kestnet::platform;

HANDLE CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                          DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName) {
  std::wstring name = lpName != nullptr ? lpName : L"";
  return CreateSection(hFile, lpFileMappingAttributes, flProtect, dwMaximumSizeHigh, dwMaximumSizeLow,
                       lpName != nullptr ? &name : nullptr);
}

HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                          DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCSTR lpName) {
  std::wstring name = ObjectNameFromUtf8(lpName);
  return CreateSection(hFile, lpFileMappingAttributes, flProtect, dwMaximumSizeHigh, dwMaximumSizeLow,
                       lpName != nullptr ? &name : nullptr);
}

HANDLE OpenFileMappingW(DWORD dwDesiredAccess, BOOL /*bInheritHandle*/, LPCWSTR lpName) {
  return OpenSection(dwDesiredAccess, lpName != nullptr ? lpName : L"");
}

HANDLE OpenFileMappingA(DWORD dwDesiredAccess, BOOL /*bInheritHandle*/, LPCSTR lpName) {
  return OpenSection(dwDesiredAccess, ObjectNameFromUtf8(lpName));
}

LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
  auto section = LookupHandleOf<FileMappingObject>(hFileMappingObject, ObjectKind::FileMapping);
  if (!section) return nullptr;
  std::uint64_t offset = (static_cast<std::uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
  if (offset % kAllocationGranularity != 0) {
    SetLastError(ERROR_MAPPED_ALIGNMENT);
    return nullptr;
  }
  bool copy = (dwDesiredAccess & FILE_MAP_COPY) != 0 && dwDesiredAccess != FILE_MAP_ALL_ACCESS;
  bool write = (dwDesiredAccess & FILE_MAP_WRITE) != 0 || copy;
  bool read = (dwDesiredAccess & (FILE_MAP_READ | FILE_MAP_WRITE)) != 0 || copy;
  if (!read || (write && !copy && section->ReadOnly())) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  // Windows answers a view beyond the section's end with access denied.
  if (offset >= section->Size()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  std::uint64_t available = section->Size() - offset;
  std::uint64_t length = dwNumberOfBytesToMap == 0 ? available : dwNumberOfBytesToMap;
  if (length > available) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  int protection = PROT_READ | (write ? PROT_WRITE : 0);
  void* view = ::mmap(nullptr, static_cast<std::size_t>(length), protection, copy ? MAP_PRIVATE : MAP_SHARED,
                      section->FileDescriptor(), static_cast<off_t>(section->FileOffsetOfData() + offset));
  if (view == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // The section's file may be cut short by another account while mapped.
  if (!copy) GuardSharedMapping(view, static_cast<std::size_t>(length));
  try {
    ViewTable& table = Views();
    std::lock_guard lock(table.mutex);
    table.views[view] = ViewTable::View{std::move(section), static_cast<std::size_t>(length)};
  } catch (const std::bad_alloc&) {
    UnguardSharedMapping(view);
    ::munmap(view, static_cast<std::size_t>(length));
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return view;
}

BOOL UnmapViewOfFile(LPCVOID lpBaseAddress) {
  ViewTable::View view;
  {
    ViewTable& table = Views();
    std::lock_guard lock(table.mutex);
    auto found = table.views.find(lpBaseAddress);
    if (found == table.views.end()) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    view = std::move(found->second);
    table.views.erase(found);
  }
  UnguardSharedMapping(const_cast<void*>(lpBaseAddress));
  ::munmap(const_cast<void*>(lpBaseAddress), view.length);
  return TRUE;  // the section goes with `view` if this was its last reference
}

BOOL FlushViewOfFile(LPCVOID lpBaseAddress, SIZE_T /*dwNumberOfBytesToFlush*/) {
  ViewTable& table = Views();
  std::lock_guard lock(table.mutex);
  // Any address inside a view is accepted, as on Windows.
  auto found = table.views.upper_bound(lpBaseAddress);
  if (found == table.views.begin()) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  --found;
  const auto* start = static_cast<const char*>(found->first);
  if (static_cast<const char*>(lpBaseAddress) >= start + found->second.length) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  return TRUE;
}

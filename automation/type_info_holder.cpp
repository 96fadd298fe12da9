#include "automation/type_info_holder.h"

#include <mutex>
#include <vector>

#include "automation/typelib.h"

namespace KestAXLib {
namespace {

using kestnet::platform::TypeLibDescription;

// The libraries known to the process, each built once. Released when the
// module that holds this table unloads.
class LibraryTable {
 public:
  LibraryTable() = default;
  LibraryTable(const LibraryTable&) = delete;
  LibraryTable& operator=(const LibraryTable&) = delete;
  ~LibraryTable() {
    for (Entry& entry : entries_) {
      if (entry.library != nullptr) entry.library->Release();
    }
  }

  void Add(const TypeLibDescription* description) {
    std::lock_guard lock(mutex_);
    for (const Entry& entry : entries_) {
      if (entry.description == description) return;
    }
    ITypeLib* library = nullptr;
    if (FAILED(kestnet::platform::CreateTypeLibFromDescription(description, &library))) return;
    entries_.push_back(Entry{description, library});
  }

  // A new reference, or null.
  ITypeLib* Find(REFGUID libid, WORD major, WORD minor) {
    if (libid == KestNetTypeLibDescription().libid && major == 1 && minor == 0) return KestNetTypeLib();
    std::lock_guard lock(mutex_);
    for (const Entry& entry : entries_) {
      if (entry.description->libid == libid && entry.description->majorVersion == major &&
          entry.description->minorVersion == minor) {
        entry.library->AddRef();
        return entry.library;
      }
    }
    return nullptr;
  }

 private:
  struct Entry {
    const TypeLibDescription* description;
    ITypeLib* library;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

LibraryTable& Libraries() {
  static LibraryTable table;
  return table;
}

}  // namespace

void AddTypeLibDescription(const TypeLibDescription* description) {
  if (description != nullptr) Libraries().Add(description);
}

HRESULT GetTypeInfoOfGuid(REFGUID libid, WORD majorVersion, WORD minorVersion, REFGUID guid, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  ITypeLib* library = Libraries().Find(libid, majorVersion, minorVersion);
  if (library == nullptr) return TYPE_E_LIBNOTREGISTERED;
  HRESULT hr = library->GetTypeInfoOfGuid(guid, info);
  library->Release();
  return hr;
}

}  // namespace KestAXLib

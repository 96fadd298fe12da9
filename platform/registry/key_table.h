// What an open registry handle refers to, and the process-wide table of them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/registry/hive.h"
#include "platform/registry/registry.h"

namespace kestnet::platform::registry_store {

// The target of a handle. A plain key is one row of one hive, remembered by id
// (so it notices deletion). A classes key is a path below Software\Classes,
// looked up in the user hive and the machine hive on every call, which is what
// makes HKEY_CLASSES_ROOT a live merged view of the two.
struct KeyTarget {
  enum class Kind { kPlain, kClasses };
  Kind kind = Kind::kPlain;
  std::shared_ptr<Hive> hive;  // kPlain
  KeyId id = 0;                // kPlain
  std::shared_ptr<Hive> machine;            // kClasses
  std::shared_ptr<Hive> user;               // kClasses
  std::vector<std::string> classesPath;     // kClasses: components below Software\Classes
  bool hiveRoot = false;                    // a hive's or the merged view's root: never deleted
  REGSAM access = 0;
  std::string displayPath;                  // "HKEY_LOCAL_MACHINE\Software\..."
};

using KeyTargetPtr = std::shared_ptr<const KeyTarget>;

// The registry state of this process: open handles, predefined-key overrides
// and the open hive connections. One instance for the process lifetime
// (created on first use, intentionally never destroyed so that handles used by
// static destructors of other code stay valid).
//
// Lock order: handlesMutex_ and hivesMutex_ are never held together; opening a
// hive (which may wait on another process) happens under hivesMutex_ only.
class KeyTable {
 public:
  static KeyTable& Instance();

  // ERROR_INVALID_HANDLE for a null, closed or unknown handle.
  LONG Resolve(HKEY key, KeyTargetPtr* target);
  HKEY Insert(KeyTargetPtr target);
  LONG Close(HKEY key);
  LONG Override(HKEY predefined, HKEY replacement);
  // Flushes every open hive (Hive::Flush), ignoring failures.
  void FlushAll();

 private:
  KeyTable() = default;
  LONG ResolvePredefined(HKEY key, KeyTargetPtr* target);
  std::shared_ptr<Hive> MachineHive();
  std::shared_ptr<Hive> HiveIn(const std::string& directory, Hive::Mode mode);

  std::mutex handlesMutex_;
  std::unordered_map<std::uintptr_t, KeyTargetPtr> handles_;
  std::uintptr_t nextHandle_ = 0x1000;
  std::map<std::uintptr_t, KeyTargetPtr> overrides_;

  std::mutex hivesMutex_;
  std::map<std::string, std::weak_ptr<Hive>> hives_;
  // The hives most recently used for each root stay open between calls even
  // with no handle on them; a changed KESTNET_HOME replaces them.
  std::shared_ptr<Hive> recentMachine_;
  std::shared_ptr<Hive> recentUser_;
  // The predefined roots resolved since the directories' inputs (environment
  // and effective user) were last seen to change.
  std::string predefinedInputs_;
  std::vector<std::pair<std::uintptr_t, KeyTargetPtr>> predefinedTargets_;
};

// Standard, generic and special access bits with their Windows values; kept
// here under our own names because other platform headers define the
// standard ones for their objects.
constexpr REGSAM kDeleteAccess = 0x00010000;
constexpr REGSAM kReadControlAccess = 0x00020000;
constexpr REGSAM kWriteDacAccess = 0x00040000;
constexpr REGSAM kWriteOwnerAccess = 0x00080000;
constexpr REGSAM kMaximumAllowedAccess = 0x02000000;
constexpr REGSAM kGenericAllAccess = 0x10000000;
constexpr REGSAM kGenericExecuteAccess = 0x20000000;
constexpr REGSAM kGenericWriteAccess = 0x40000000;
constexpr REGSAM kGenericReadAccess = 0x80000000;

// Access rights with the generic and maximum-allowed bits turned into key rights.
REGSAM NormaliseAccess(REGSAM desired);

}  // namespace kestnet::platform::registry_store

#include "platform/registry/key_table.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/os/home.h"

namespace kestnet::platform::registry_store {
namespace {

// The file of each hive inside its data directory.
constexpr const char* kHiveFileName = "/registry.sqlite3";

struct GenericRight {
  REGSAM generic;
  REGSAM specific;
};

constexpr GenericRight kGenericRights[] = {
    {kGenericReadAccess, KEY_READ},
    {kGenericWriteAccess, KEY_WRITE},
    {kGenericExecuteAccess, KEY_EXECUTE},
    {kGenericAllAccess, KEY_ALL_ACCESS},
    {kMaximumAllowedAccess, KEY_ALL_ACCESS},
};

std::uintptr_t HandleValue(HKEY key) { return reinterpret_cast<std::uintptr_t>(key); }

// Everything the hive directories are chosen by (home.h): while it stays the
// same, a predefined root names the same hive as last time.
std::string DataDirectoryInputs() {
  std::string inputs = std::to_string(::geteuid());
  for (const char* variable : {"KESTNET_HOME", "XDG_DATA_HOME", "HOME"}) {
    const char* value = std::getenv(variable);
    inputs += '\0';
    if (value != nullptr) inputs += value;
  }
  return inputs;
}

void FlushHivesAtExit() { KeyTable::Instance().FlushAll(); }

}  // namespace

REGSAM NormaliseAccess(REGSAM desired) {
  REGSAM access = desired;
  for (const GenericRight& right : kGenericRights) {
    if ((desired & right.generic) != 0) access |= right.specific;
  }
  return access;
}

KeyTable& KeyTable::Instance() {
  static KeyTable* const instance = new KeyTable();
  return *instance;
}

std::shared_ptr<Hive> KeyTable::MachineHive() {
  // The machine hive is written by whoever may write its directory (for the
  // default location, root only); everyone else reads it.
  const std::string directory = MachineDataDirectory();
  return HiveIn(directory, MayWriteMachineData() ? Hive::Mode::kShared : Hive::Mode::kReadOnly);
}

std::shared_ptr<Hive> KeyTable::HiveIn(const std::string& directory, Hive::Mode mode) {
  const std::string file = directory + kHiveFileName;
  std::lock_guard<std::mutex> lock(hivesMutex_);
  std::shared_ptr<Hive> hive = hives_[file].lock();
  if (!hive) {
    hive = std::make_shared<Hive>(file, mode);
    // The table outlives every static destructor, so its hives are never
    // closed: what they have not flushed yet is flushed when the process exits.
    static const bool flushAtExit = std::atexit(&FlushHivesAtExit) == 0;
    (void)flushAtExit;
    hives_[file] = hive;
    std::erase_if(hives_, [](const auto& entry) { return entry.second.expired(); });
  }
  return hive;
}

void KeyTable::FlushAll() {
  std::vector<std::shared_ptr<Hive>> open;
  {
    std::lock_guard<std::mutex> lock(hivesMutex_);
    for (const auto& entry : hives_) {
      if (std::shared_ptr<Hive> hive = entry.second.lock()) open.push_back(std::move(hive));
    }
  }
  for (const std::shared_ptr<Hive>& hive : open) {
    try {
      hive->Flush();
    } catch (const StoreError&) {
      // Committed all the same; nothing more can be done at exit.
    }
  }
}

LONG KeyTable::ResolvePredefined(HKEY key, KeyTargetPtr* target) {
  {
    std::lock_guard<std::mutex> lock(handlesMutex_);
    auto found = overrides_.find(HandleValue(key));
    if (found != overrides_.end()) {
      *target = found->second;
      return ERROR_SUCCESS;
    }
  }
  // Finding the directories makes sure they exist, a few system calls per
  // call; while their inputs are unchanged the last answer stands.
  const std::string inputs = DataDirectoryInputs();
  {
    std::lock_guard<std::mutex> lock(hivesMutex_);
    if (inputs == predefinedInputs_) {
      for (const auto& [predefined, resolved] : predefinedTargets_) {
        if (predefined == HandleValue(key)) {
          *target = resolved;
          return ERROR_SUCCESS;
        }
      }
    } else {
      predefinedInputs_ = inputs;
      predefinedTargets_.clear();
    }
  }
  auto resolved = std::make_shared<KeyTarget>();
  resolved->access = KEY_ALL_ACCESS;
  resolved->hiveRoot = true;
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) {
    const bool machine = key == HKEY_LOCAL_MACHINE;
    resolved->hive = machine ? MachineHive() : HiveIn(UserDataDirectory(), Hive::Mode::kPrivate);
    if (resolved->hive->ReadOnly()) resolved->access = KEY_READ;
    resolved->id = Hive::kRootId;
    resolved->displayPath = machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
    std::lock_guard<std::mutex> lock(hivesMutex_);
    (machine ? recentMachine_ : recentUser_) = resolved->hive;
  } else if (key == HKEY_CLASSES_ROOT) {
    resolved->kind = KeyTarget::Kind::kClasses;
    resolved->machine = MachineHive();
    resolved->user = HiveIn(UserDataDirectory(), Hive::Mode::kPrivate);
    resolved->displayPath = "HKEY_CLASSES_ROOT";
    std::lock_guard<std::mutex> lock(hivesMutex_);
    recentMachine_ = resolved->machine;
    recentUser_ = resolved->user;
  } else {
    // HKEY_USERS and the other predefined roots have no store here.
    return ERROR_INVALID_HANDLE;
  }
  std::lock_guard<std::mutex> lock(hivesMutex_);
  if (inputs == predefinedInputs_) predefinedTargets_.emplace_back(HandleValue(key), resolved);
  *target = std::move(resolved);
  return ERROR_SUCCESS;
}

LONG KeyTable::Resolve(HKEY key, KeyTargetPtr* target) {
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  if (key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_USERS) {
    try {
      return ResolvePredefined(key, target);
    } catch (const StoreError& error) {
      return error.code;
    }
  }
  std::lock_guard<std::mutex> lock(handlesMutex_);
  auto found = handles_.find(HandleValue(key));
  if (found == handles_.end()) return ERROR_INVALID_HANDLE;
  *target = found->second;
  return ERROR_SUCCESS;
}

HKEY KeyTable::Insert(KeyTargetPtr target) {
  std::lock_guard<std::mutex> lock(handlesMutex_);
  // Handle values are never reused within a process, so a stale handle can
  // never reach a key opened later.
  const std::uintptr_t value = nextHandle_;
  nextHandle_ += 4;
  handles_.emplace(value, std::move(target));
  return reinterpret_cast<HKEY>(value);
}

LONG KeyTable::Close(HKEY key) {
  if (key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_USERS) {
    return ERROR_SUCCESS;  // closing a predefined key does nothing, as on Windows
  }
  std::lock_guard<std::mutex> lock(handlesMutex_);
  return handles_.erase(HandleValue(key)) == 1 ? static_cast<LONG>(ERROR_SUCCESS)
                                                : static_cast<LONG>(ERROR_INVALID_HANDLE);
}

LONG KeyTable::Override(HKEY predefined, HKEY replacement) {
  if (predefined != HKEY_CLASSES_ROOT && predefined != HKEY_CURRENT_USER && predefined != HKEY_LOCAL_MACHINE &&
      predefined != HKEY_USERS) {
    return ERROR_INVALID_HANDLE;
  }
  if (replacement == nullptr) {
    std::lock_guard<std::mutex> lock(handlesMutex_);
    overrides_.erase(HandleValue(predefined));
    return ERROR_SUCCESS;
  }
  KeyTargetPtr target;
  if (const LONG rc = Resolve(replacement, &target); rc != ERROR_SUCCESS) return rc;
  auto copy = std::make_shared<KeyTarget>(*target);
  copy->hiveRoot = true;  // the overridden root cannot be deleted through the predefined handle either
  std::lock_guard<std::mutex> lock(handlesMutex_);
  overrides_[HandleValue(predefined)] = std::move(copy);
  return ERROR_SUCCESS;
}

}  // namespace kestnet::platform::registry_store

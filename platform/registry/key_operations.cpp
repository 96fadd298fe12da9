#include "platform/registry/key_operations.h"

#include <algorithm>
#include <functional>
#include <new>
#include <set>

#include "platform/registry/text.h"

namespace kestnet::platform::registry_store {
namespace {

// Windows limits one key name to 255 characters.
constexpr std::size_t kMaxKeyNameLength = 255;
// And a tree to 512 levels below its hive's root. Windows documents the limit
// but not its error; we answer ERROR_INVALID_PARAMETER, as for the name limit.
constexpr std::size_t kMaxKeyDepth = 512;
// The rights any change of a key's tree needs; a key opened only for reading
// has none of them.
constexpr REGSAM kTreeChangeRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | kDeleteAccess;

// Every right that changes a key, its values or its tree.
constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | kDeleteAccess | kWriteDacAccess | kWriteOwnerAccess;

// The rights a handle on a key of hive gets. A read-only hive grants no write
// right: asking for one is refused, as Windows refuses a user who opens a
// machine key with KEY_ALL_ACCESS; MAXIMUM_ALLOWED gets the rights left.
LONG GrantAccess(const Hive& hive, REGSAM desired, REGSAM* granted) {
  REGSAM access = NormaliseAccess(desired);
  if (hive.ReadOnly() && (access & kWriteRights) != 0) {
    if ((desired & kMaximumAllowedAccess) == 0) return ERROR_ACCESS_DENIED;
    access &= ~kWriteRights;
  }
  *granted = access;
  return ERROR_SUCCESS;
}

const std::vector<std::string>& ClassesRootPath() {
  static const std::vector<std::string> path = {"Software", "Classes"};
  return path;
}

// Runs body (returning a Win32 error) and turns store failures into their codes.
LONG Guard(const std::function<LONG()>& body) {
  try {
    return body();
  } catch (const StoreError& error) {
    return error.code;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

std::vector<std::string> Concat(const std::vector<std::string>& head, const std::vector<std::string>& tail) {
  std::vector<std::string> joined = head;
  joined.insert(joined.end(), tail.begin(), tail.end());
  return joined;
}

std::string DisplayPath(const std::string& base, const std::vector<std::string>& components) {
  std::string path = base;
  for (const std::string& component : components) path += "\\" + component;
  return path;
}

struct WalkResult {
  KeyId id;
  std::size_t matched;
};

// Follows components from start as far as they exist.
WalkResult Walk(Hive& hive, KeyId start, const std::vector<std::string>& components) {
  WalkResult result{start, 0};
  for (const std::string& component : components) {
    const std::optional<KeyId> child = hive.FindChild(result.id, FoldName(component));
    if (!child) break;
    result.id = *child;
    ++result.matched;
  }
  return result;
}

// Creates the components from `from` on below parent; returns the last one.
KeyId CreateRemaining(Hive& hive, WalkResult walked, const std::vector<std::string>& components,
                      std::string_view className, const std::optional<std::string>& security) {
  const std::size_t missing = components.size() - walked.matched;
  if (missing > 0 && hive.Depth(walked.id, kMaxKeyDepth) + missing > kMaxKeyDepth) {
    throw StoreError{static_cast<LONG>(ERROR_INVALID_PARAMETER)};
  }
  KeyId id = walked.id;
  for (std::size_t i = walked.matched; i < components.size(); ++i) {
    const bool last = i + 1 == components.size();
    id = hive.CreateChild(id, components[i], FoldName(components[i]), last ? className : std::string_view(),
                          last ? security : std::nullopt);
  }
  return id;
}

void RequireKey(Hive& hive, KeyId id) {
  if (!hive.KeyExists(id)) throw StoreError{static_cast<LONG>(ERROR_KEY_DELETED)};
}

// Runs body(id) in one transaction of hive when the classes key at relative
// path exists there; returns whether it did.
using ClassesBody = std::function<void(Hive&, KeyId)>;

bool WithClassesKey(Hive& hive, const std::vector<std::string>& relative, bool write, const ClassesBody& body) {
  const std::vector<std::string> full = Concat(ClassesRootPath(), relative);
  bool exists = false;
  const auto run = [&] {
    const WalkResult walked = Walk(hive, Hive::kRootId, full);
    exists = walked.matched == full.size();
    if (exists) body(hive, walked.id);
  };
  if (write) {
    hive.Write(run);
  } else {
    hive.Read(run);
  }
  return exists;
}

struct ClassesLocation {
  bool inMachine = false;
  bool inUser = false;
  std::size_t machineDepth = 0;
  std::size_t userDepth = 0;
};

ClassesLocation LocateClasses(const KeyTarget& key, const std::vector<std::string>& relative) {
  const std::vector<std::string> full = Concat(ClassesRootPath(), relative);
  ClassesLocation location;
  key.machine->Read([&] { location.machineDepth = Walk(*key.machine, Hive::kRootId, full).matched; });
  key.user->Read([&] { location.userDepth = Walk(*key.user, Hive::kRootId, full).matched; });
  location.inMachine = location.machineDepth == full.size();
  location.inUser = location.userDepth == full.size();
  return location;
}

// The merged root always exists; any other classes key must exist in a hive.
bool ClassesKeyExists(const KeyTarget& key) {
  if (key.classesPath.empty()) return true;
  const ClassesLocation location = LocateClasses(key, key.classesPath);
  return location.inMachine || location.inUser;
}

// Runs a write on the copy of the classes key the merged view refers to: the
// user's when there is one (where reads look first, so the write is seen),
// else the machine's. The merged root is created in the machine hive when
// missing.
LONG WriteClassesKey(const KeyTarget& key, const ClassesBody& body) {
  if (WithClassesKey(*key.user, key.classesPath, true, body)) return ERROR_SUCCESS;
  if (WithClassesKey(*key.machine, key.classesPath, true, body)) return ERROR_SUCCESS;
  if (!key.classesPath.empty()) return ERROR_KEY_DELETED;
  key.machine->Write([&] {
    const WalkResult walked = Walk(*key.machine, Hive::kRootId, ClassesRootPath());
    body(*key.machine, CreateRemaining(*key.machine, walked, ClassesRootPath(), {}, std::nullopt));
  });
  return ERROR_SUCCESS;
}

}  // namespace

bool Allows(const KeyTarget& key, REGSAM needed) { return (key.access & needed) != 0; }

LONG SplitKeyPath(std::string_view path, bool allowLeading, std::vector<std::string>* components) {
  components->clear();
  if (!path.empty() && path.front() == '\\') {
    if (!allowLeading) return ERROR_BAD_PATHNAME;
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  }
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  while (!path.empty()) {
    const std::size_t separator = path.find('\\');
    const std::string_view component = path.substr(0, separator);
    if (component.empty()) return ERROR_BAD_PATHNAME;
    if (Utf8Length(component) > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    components->emplace_back(component);
    if (separator == std::string_view::npos) break;
    path.remove_prefix(separator + 1);
  }
  return ERROR_SUCCESS;
}

LONG OpenKey(const KeyTarget& base, std::string_view subkey, REGSAM access, KeyTargetPtr* opened) {
  return Guard([&]() -> LONG {
    std::vector<std::string> components;
    const bool classes = base.kind == KeyTarget::Kind::kClasses;
    if (const LONG rc = SplitKeyPath(subkey, classes && base.hiveRoot, &components); rc != ERROR_SUCCESS) return rc;
    auto result = std::make_shared<KeyTarget>();
    result->kind = base.kind;
    result->access = NormaliseAccess(access);
    result->displayPath = DisplayPath(base.displayPath, components);
    if (!classes) {
      if (const LONG rc = GrantAccess(*base.hive, access, &result->access); rc != ERROR_SUCCESS) return rc;
      LONG rc = ERROR_SUCCESS;
      base.hive->Read([&] {
        RequireKey(*base.hive, base.id);
        const WalkResult walked = Walk(*base.hive, base.id, components);
        rc = walked.matched == components.size() ? static_cast<LONG>(ERROR_SUCCESS) : static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        result->id = walked.id;
      });
      if (rc != ERROR_SUCCESS) return rc;
      result->hive = base.hive;
      result->hiveRoot = base.hiveRoot && components.empty();
    } else {
      result->machine = base.machine;
      result->user = base.user;
      result->classesPath = Concat(base.classesPath, components);
      result->hiveRoot = result->classesPath.empty();
      if (!result->hiveRoot) {
        const ClassesLocation location = LocateClasses(base, result->classesPath);
        if (!location.inMachine && !location.inUser) {
          return ClassesKeyExists(base) ? static_cast<LONG>(ERROR_FILE_NOT_FOUND) : static_cast<LONG>(ERROR_KEY_DELETED);
        }
      }
    }
    *opened = std::move(result);
    return ERROR_SUCCESS;
  });
}

LONG CreateKey(const KeyTarget& base, std::string_view subkey, std::string_view className,
               const std::optional<std::string>& security, REGSAM access, KeyTargetPtr* opened, DWORD* disposition) {
  return Guard([&]() -> LONG {
    std::vector<std::string> components;
    const bool classes = base.kind == KeyTarget::Kind::kClasses;
    if (const LONG rc = SplitKeyPath(subkey, classes && base.hiveRoot, &components); rc != ERROR_SUCCESS) return rc;
    auto result = std::make_shared<KeyTarget>();
    result->kind = base.kind;
    result->access = NormaliseAccess(access);
    result->displayPath = DisplayPath(base.displayPath, components);
    DWORD outcome = REG_OPENED_EXISTING_KEY;
    if (!classes) {
      if (const LONG rc = GrantAccess(*base.hive, access, &result->access); rc != ERROR_SUCCESS) return rc;
      LONG rc = ERROR_SUCCESS;
      base.hive->Write([&] {
        RequireKey(*base.hive, base.id);
        const WalkResult walked = Walk(*base.hive, base.id, components);
        rc = ERROR_SUCCESS;
        outcome = REG_OPENED_EXISTING_KEY;
        result->id = walked.id;
        if (walked.matched == components.size()) return;
        if (!Allows(base, KEY_CREATE_SUB_KEY)) {
          rc = ERROR_ACCESS_DENIED;
          return;
        }
        result->id = CreateRemaining(*base.hive, walked, components, className, security);
        outcome = REG_CREATED_NEW_KEY;
      });
      if (rc != ERROR_SUCCESS) return rc;
      result->hive = base.hive;
      result->hiveRoot = base.hiveRoot && components.empty();
    } else {
      result->machine = base.machine;
      result->user = base.user;
      result->classesPath = Concat(base.classesPath, components);
      result->hiveRoot = result->classesPath.empty();
      const ClassesLocation location = LocateClasses(base, result->classesPath);
      if (!location.inMachine && !location.inUser && !result->hiveRoot) {
        if (!ClassesKeyExists(base)) return ERROR_KEY_DELETED;
        if (!Allows(base, KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        // New keys go where the deepest existing part of their path is, the
        // machine hive on a tie: a registration made per user stays per user.
        Hive& target = location.userDepth > location.machineDepth ? *base.user : *base.machine;
        const std::vector<std::string> full = Concat(ClassesRootPath(), result->classesPath);
        target.Write([&] {
          const WalkResult walked = Walk(target, Hive::kRootId, full);
          outcome = walked.matched == full.size() ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
          CreateRemaining(target, walked, full, className, security);
        });
      }
    }
    if (disposition != nullptr) *disposition = outcome;
    *opened = std::move(result);
    return ERROR_SUCCESS;
  });
}

LONG DeleteKey(const KeyTarget& base, std::string_view subkey, bool wholeTree) {
  return Guard([&]() -> LONG {
    if (!Allows(base, kTreeChangeRights)) return ERROR_ACCESS_DENIED;
    std::vector<std::string> components;
    const bool classes = base.kind == KeyTarget::Kind::kClasses;
    if (const LONG rc = SplitKeyPath(subkey, classes && base.hiveRoot, &components); rc != ERROR_SUCCESS) return rc;
    // Deleting with no subkey: RegDeleteKey removes the handle's own key,
    // RegDeleteTree empties it and keeps it.
    const bool contentsOnly = wholeTree && components.empty();
    if (!classes) {
      if (components.empty() && !wholeTree && base.hiveRoot) return ERROR_ACCESS_DENIED;
      LONG rc = ERROR_SUCCESS;
      base.hive->Write([&] {
        RequireKey(*base.hive, base.id);
        const WalkResult walked = Walk(*base.hive, base.id, components);
        rc = ERROR_SUCCESS;
        if (walked.matched != components.size()) {
          rc = ERROR_FILE_NOT_FOUND;
        } else if (wholeTree) {
          base.hive->DeleteTree(walked.id, !contentsOnly);
        } else if (base.hive->HasSubkeys(walked.id)) {
          rc = ERROR_ACCESS_DENIED;
        } else {
          base.hive->DeleteKey(walked.id);
        }
      });
      return rc;
    }
    // Through the merged view the key is the user's copy when there is one,
    // else the machine's: that copy goes, and a machine copy behind the
    // user's shows again, as on Windows.
    const std::vector<std::string> relative = Concat(base.classesPath, components);
    if (relative.empty()) return ERROR_ACCESS_DENIED;
    LONG rc = ERROR_SUCCESS;
    const ClassesBody remove = [&](Hive& in, KeyId id) {
      rc = ERROR_SUCCESS;
      if (wholeTree) {
        in.DeleteTree(id, !contentsOnly);
      } else if (in.HasSubkeys(id)) {
        rc = ERROR_ACCESS_DENIED;
      } else {
        in.DeleteKey(id);
      }
    };
    for (Hive* hive : {base.user.get(), base.machine.get()}) {
      if (WithClassesKey(*hive, relative, true, remove)) return rc;
    }
    return ClassesKeyExists(base) ? static_cast<LONG>(ERROR_FILE_NOT_FOUND) : static_cast<LONG>(ERROR_KEY_DELETED);
  });
}

LONG QueryValue(const KeyTarget& key, std::string_view name, ValueRecord* value) {
  return Guard([&]() -> LONG {
    if (!Allows(key, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    const std::string folded = FoldName(name);
    bool found = false;
    const auto lookup = [&](Hive& hive, KeyId id) {
      std::optional<ValueRecord> stored = hive.GetValue(id, folded);
      found = stored.has_value();
      if (found) *value = std::move(*stored);
    };
    if (key.kind == KeyTarget::Kind::kPlain) {
      key.hive->Read([&] {
        // Values are deleted with their key, so one found proves the key is
        // still there; only a miss must tell a deleted key from a missing value.
        lookup(*key.hive, key.id);
        if (!found) RequireKey(*key.hive, key.id);
      });
      return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    // The user's registration wins over the machine's.
    bool exists = false;
    for (Hive* hive : {key.user.get(), key.machine.get()}) {
      exists = WithClassesKey(*hive, key.classesPath, false, lookup) || exists;
      if (found) return ERROR_SUCCESS;
    }
    return (exists || key.classesPath.empty()) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
  });
}

LONG SetValue(const KeyTarget& key, std::string_view name, DWORD type, std::string_view data) {
  return Guard([&]() -> LONG {
    if (!Allows(key, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    const std::string folded = FoldName(name);
    const auto write = [&](Hive& hive, KeyId id) { hive.SetValue(id, name, folded, type, data); };
    if (key.kind == KeyTarget::Kind::kPlain) {
      key.hive->Write([&] {
        RequireKey(*key.hive, key.id);
        write(*key.hive, key.id);
      });
      return ERROR_SUCCESS;
    }
    return WriteClassesKey(key, write);
  });
}

LONG DeleteValue(const KeyTarget& key, std::string_view name) {
  return Guard([&]() -> LONG {
    if (!Allows(key, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    const std::string folded = FoldName(name);
    bool deleted = false;
    if (key.kind == KeyTarget::Kind::kPlain) {
      key.hive->Write([&] {
        RequireKey(*key.hive, key.id);
        deleted = key.hive->DeleteValue(key.id, folded);
      });
      return deleted ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    // Through the merged view the value goes from the hive it is read from:
    // the user's, else the machine's.
    bool exists = false;
    for (Hive* hive : {key.user.get(), key.machine.get()}) {
      exists = WithClassesKey(*hive, key.classesPath, true,
                              [&](Hive& in, KeyId id) { deleted = in.DeleteValue(id, folded); }) ||
               exists;
      if (deleted) return ERROR_SUCCESS;
    }
    return (exists || key.classesPath.empty()) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
  });
}

LONG AddToQword(const KeyTarget& key, std::string_view name, LONGLONG addend, ULONGLONG* result) {
  return Guard([&]() -> LONG {
    if (!Allows(key, KEY_SET_VALUE) || !Allows(key, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    const std::string folded = FoldName(name);
    LONG rc = ERROR_SUCCESS;
    const auto update = [&](Hive& hive, KeyId id) {
      rc = ERROR_SUCCESS;
      ULONGLONG current = 0;
      std::string spelling(name);
      if (std::optional<ValueRecord> stored = hive.GetValue(id, folded)) {
        if (stored->type != REG_QWORD || stored->data.size() != sizeof current) {
          rc = ERROR_INVALID_DATATYPE;
          return;
        }
        std::copy(stored->data.begin(), stored->data.end(), reinterpret_cast<char*>(&current));
        spelling = stored->name;
      }
      current += static_cast<ULONGLONG>(addend);  // wraps modulo 2^64, as unsigned arithmetic does
      hive.SetValue(id, spelling, folded, REG_QWORD,
                    std::string_view(reinterpret_cast<const char*>(&current), sizeof current));
      if (result != nullptr) *result = current;
    };
    if (key.kind == KeyTarget::Kind::kPlain) {
      key.hive->Write([&] {
        RequireKey(*key.hive, key.id);
        update(*key.hive, key.id);
      });
      return rc;
    }
    const LONG written = WriteClassesKey(key, update);
    return written != ERROR_SUCCESS ? written : rc;
  });
}

LONG ListSubkeys(const KeyTarget& key, SubkeyList* subkeys) {
  return Guard([&]() -> LONG {
    if (!Allows(key, KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (key.kind == KeyTarget::Kind::kPlain) {
      key.hive->Read([&] {
        RequireKey(*key.hive, key.id);
        *subkeys = key.hive->Subkeys(key.id);
      });
      return ERROR_SUCCESS;
    }
    // The union of both hives in name order; the user's spelling wins.
    // Both listings are sorted by folded name: merge them, the user's first on a tie.
    SubkeyList fromUser = std::make_shared<const std::vector<SubkeyRecord>>();
    SubkeyList fromMachine = fromUser;
    const bool inUser = WithClassesKey(*key.user, key.classesPath, false,
                                       [&](Hive& in, KeyId id) { fromUser = in.Subkeys(id); });
    const bool inMachine = WithClassesKey(*key.machine, key.classesPath, false,
                                          [&](Hive& in, KeyId id) { fromMachine = in.Subkeys(id); });
    if (!inUser && !inMachine && !key.classesPath.empty()) return ERROR_KEY_DELETED;
    auto merged = std::make_shared<std::vector<SubkeyRecord>>();
    auto user = fromUser->begin();
    auto machine = fromMachine->begin();
    while (user != fromUser->end() || machine != fromMachine->end()) {
      if (machine == fromMachine->end() || (user != fromUser->end() && user->folded <= machine->folded)) {
        if (machine != fromMachine->end() && user->folded == machine->folded) ++machine;
        merged->push_back(*user++);
      } else {
        merged->push_back(*machine++);
      }
    }
    *subkeys = std::move(merged);
    return ERROR_SUCCESS;
  });
}

LONG ListValues(const KeyTarget& key, ValueList* values) {
  return Guard([&]() -> LONG {
    if (!Allows(key, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (key.kind == KeyTarget::Kind::kPlain) {
      key.hive->Read([&] {
        RequireKey(*key.hive, key.id);
        *values = key.hive->Values(key.id);
      });
      return ERROR_SUCCESS;
    }
    // The user's values first, then the machine's that the user has not set.
    auto merged = std::make_shared<std::vector<ValueRecord>>();
    std::set<std::string> seen;
    bool exists = false;
    for (Hive* hive : {key.user.get(), key.machine.get()}) {
      ValueList found;
      exists = WithClassesKey(*hive, key.classesPath, false,
                              [&](Hive& in, KeyId id) { found = in.Values(id); }) ||
               exists;
      if (!found) continue;
      for (const ValueRecord& record : *found) {
        if (seen.insert(FoldName(record.name)).second) merged->push_back(record);
      }
    }
    if (!exists && !key.classesPath.empty()) return ERROR_KEY_DELETED;
    *values = std::move(merged);
    return ERROR_SUCCESS;
  });
}

LONG QueryInfo(const KeyTarget& key, KeyInfo* info) {
  return Guard([&]() -> LONG {
    if (!Allows(key, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (key.kind == KeyTarget::Kind::kPlain) {
      key.hive->Read([&] { *info = key.hive->Info(key.id); });
      return ERROR_SUCCESS;
    }
    *info = KeyInfo{};
    for (Hive* hive : {key.user.get(), key.machine.get()}) {
      if (WithClassesKey(*hive, key.classesPath, false, [&](Hive& in, KeyId id) { *info = in.Info(id); })) {
        return ERROR_SUCCESS;
      }
    }
    return key.classesPath.empty() ? ERROR_SUCCESS : ERROR_KEY_DELETED;
  });
}

LONG SetSecurity(const KeyTarget& key, std::string_view descriptor) {
  return Guard([&]() -> LONG {
    if (!Allows(key, kWriteDacAccess)) return ERROR_ACCESS_DENIED;
    const auto write = [&](Hive& hive, KeyId id) { hive.SetSecurity(id, descriptor); };
    if (key.kind == KeyTarget::Kind::kPlain) {
      key.hive->Write([&] {
        RequireKey(*key.hive, key.id);
        write(*key.hive, key.id);
      });
      return ERROR_SUCCESS;
    }
    return WriteClassesKey(key, write);
  });
}

}  // namespace kestnet::platform::registry_store

// The module object of KestNetX: the object map (the classes that can be
// created now), the lock count, the class factories and registration. The
// module's four exports (module_exports.cpp) are thin calls into it.
//
// A class enters the object map from its own source file:
//
//   OBJECT_ENTRY_AUTO(CLSID_KestNetMessageData, CMessageData)
//
// which creates the plain form without an outer object and the aggregated
// form with one (CLASS_E_NOAGGREGATION for classes declared
// DECLARE_NOT_AGGREGATABLE). Classes of the type library that are not in the
// map are neither creatable nor registered.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "automation/class_factory.h"
#include "automation/class_table.h"

namespace KestAXLib {

struct ObjectMapEntry {
  const CLSID* clsid;
  ATL::CreatorFunction creator;
};

// Registration of one class: its row and the text of its script.
struct ClassRegistration {
  const KestNetClassInfo* info;
  std::wstring script;
};

class CKestNetXModule {
 public:
  // The one module object of the process's copy of this library.
  static CKestNetXModule& Instance();

  // Adds a class to the object map (OBJECT_ENTRY_AUTO); a second entry for
  // the same CLSID replaces the first.
  void AddObjectMapEntry(const ObjectMapEntry& entry);
  // The CLSIDs in the map, in registration order.
  std::vector<CLSID> ObjectMapClasses() const;

  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
  HRESULT CanUnloadNow() const;

  // Writes script 101 and then every class of the object map and the type
  // library, with the calling thread's locale set to LOCALE_SYSTEM_DEFAULT
  // meanwhile (and restored after, also on failure). Stops at the first
  // failure and returns it; classes registered before it stay registered.
  HRESULT RegisterServer(const std::wstring& modulePath);
  // Removes every class of the map and the type library first, then script
  // 101's keys; the same locale handling. Returns the first failure, after
  // trying everything.
  HRESULT UnregisterServer(const std::wstring& modulePath);

  // The same with an explicit class list (tests give a failing script).
  HRESULT RegisterClasses(const std::wstring& modulePath, const std::vector<ClassRegistration>& classes);
  HRESULT UnregisterClasses(const std::wstring& modulePath, const std::vector<ClassRegistration>& classes);

  // The registrations of the classes in the object map.
  std::vector<ClassRegistration> MappedClassRegistrations() const;

  // The full path of the file (shared library or program) that holds
  // address. Registration is given the path of the exports' own file, so a
  // program that also links this library never registers itself.
  static std::wstring ModulePathOf(const void* address);

  ~CKestNetXModule();
  CKestNetXModule(const CKestNetXModule&) = delete;
  CKestNetXModule& operator=(const CKestNetXModule&) = delete;

 private:
  CKestNetXModule() = default;

  struct MappedClass {
    ObjectMapEntry entry;
    ATL::CComClassFactory* factory;  // made on first request, lives as long as the module
  };

  mutable std::mutex mutex_;
  std::vector<MappedClass> map_;
};

}  // namespace KestAXLib

namespace KestAXLib::detail {

template <class T>
struct ObjectEntryRegistrar {
  explicit ObjectEntryRegistrar(const CLSID* clsid) {
    CKestNetXModule::Instance().AddObjectMapEntry(ObjectMapEntry{clsid, &T::_CreatorClass::CreateInstance});
  }
};

}  // namespace KestAXLib::detail

#define KESTNET_OBJECT_ENTRY_CONCAT2(a, b) a##b
#define KESTNET_OBJECT_ENTRY_CONCAT(a, b) KESTNET_OBJECT_ENTRY_CONCAT2(a, b)
// Puts class ClassName, identified by clsid, into the module's object map.
#define OBJECT_ENTRY_AUTO(clsid, ClassName)                                                            \
  static const ::KestAXLib::detail::ObjectEntryRegistrar<ClassName> KESTNET_OBJECT_ENTRY_CONCAT( \
      g_objectEntry_, ClassName){&(clsid)};

#include "runtime/registry.h"

#include <cstring>
#include <string>
#include <vector>

#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/string_conversion.h"

namespace KestUtilsLib {
namespace {

constexpr const char* kClassName = "KestUtilsLib::Registry";

// Win32 ERROR_INVALID_DATA: reported when a DWORD value does not hold 4 bytes.
constexpr LONG kErrorInvalidData = 13;

// Text values are read with room for this many characters first, then again
// with the size the store reports.
constexpr DWORD kFirstReadCharacters = 260;
// A value that keeps growing between the size query and the read is given up
// after this many tries.
constexpr int kReadAttempts = 4;
// Key names are at most 255 characters; UTF-8 needs up to 4 bytes for each.
constexpr DWORD kSubKeyNameBufferUnits = 256 * 4;

struct TypeMapping {
  DWORD registryType;
  DWORD enumeration;
};

constexpr TypeMapping kTypeMappings[] = {
    {REG_SZ, Registry::REG_VALUE_TYPE_STRING},
    {REG_BINARY, Registry::REG_VALUE_TYPE_BINARY},
    {REG_DWORD, Registry::REG_VALUE_TYPE_DWORD},
    {REG_MULTI_SZ, Registry::REG_VALUE_TYPE_MULTI_STRING},
    {REG_EXPAND_SZ, Registry::REG_VALUE_TYPE_EXPAND_STRING},
};

DWORD EnumerationOf(DWORD registryType) {
  for (const TypeMapping& mapping : kTypeMappings) {
    if (mapping.registryType == registryType) return mapping.enumeration;
  }
  return Registry::REG_VALUE_TYPE_UNSUPPORTED;
}

using OpenedKey = Registry::OpenedKey;

// What differs between the wide and the narrow form: the registry calls, the
// text type, how a text is quoted in log lines (always as wide text, %S) and
// how it is measured (in characters).
template <typename CharT>
struct Form;

template <>
struct Form<wchar_t> {
  using String = std::wstring;
  static constexpr const char* kSuffix = "";
  static constexpr wchar_t kSeparator[] = L"\\";

  static LONG Open(HKEY root, const String& path, REGSAM access, HKEY* key) {
    return RegOpenKeyExW(root, path.c_str(), 0, access, key);
  }
  static LONG Create(HKEY root, const String& path, HKEY* key) {
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key,
                           nullptr);
  }
  static LONG Query(HKEY key, const String& name, DWORD* type, BYTE* data, DWORD* size) {
    return RegQueryValueExW(key, name.c_str(), nullptr, type, data, size);
  }
  static LONG Set(HKEY key, const String& name, DWORD type, const std::string& bytes) {
    return RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size()));
  }
  static LONG EnumKey(HKEY key, DWORD index, wchar_t* name, DWORD* length) {
    return RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
  }
  static LONG Delete(HKEY root, const String& path) { return RegDeleteKeyW(root, path.c_str()); }

  static std::wstring ForLog(const String& text) { return text; }
  static std::size_t Characters(const String& text) { return text.size(); }
  static std::string Narrow(const String& text) { return StringConversion::ConvertCAtlStringWToANSI(text); }

  // The bytes of a text in this form's value data.
  static std::string Bytes(const String& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  }
  // The stored bytes of a binary-from-text value: the text as UTF-16 code
  // units with a 16-bit terminator, the layout the value has always had.
  static std::string BinaryOfText(const String& text) {
    if (text.empty()) return {};
    std::string bytes;
    const auto append = [&bytes](std::uint16_t unit) {
      bytes.push_back(static_cast<char>(unit & 0xFF));
      bytes.push_back(static_cast<char>(unit >> 8));
    };
    for (wchar_t c : text) {
      const auto code = static_cast<std::uint32_t>(c);
      if (code >= 0x10000 && code <= 0x10FFFF) {
        append(static_cast<std::uint16_t>(0xD800 + ((code - 0x10000) >> 10)));
        append(static_cast<std::uint16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
      } else {
        append(static_cast<std::uint16_t>(code <= 0xFFFF ? code : 0xFFFD));
      }
    }
    append(0);
    return bytes;
  }
};

template <>
struct Form<char> {
  using String = std::string;
  static constexpr const char* kSuffix = "A";
  static constexpr char kSeparator[] = "\\";

  static LONG Open(HKEY root, const String& path, REGSAM access, HKEY* key) {
    return RegOpenKeyExA(root, path.c_str(), 0, access, key);
  }
  static LONG Create(HKEY root, const String& path, HKEY* key) {
    return RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key,
                           nullptr);
  }
  static LONG Query(HKEY key, const String& name, DWORD* type, BYTE* data, DWORD* size) {
    return RegQueryValueExA(key, name.c_str(), nullptr, type, data, size);
  }
  static LONG Set(HKEY key, const String& name, DWORD type, const std::string& bytes) {
    return RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size()));
  }
  static LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* length) {
    return RegEnumKeyExA(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
  }
  static LONG Delete(HKEY root, const String& path) { return RegDeleteKeyA(root, path.c_str()); }

  static std::wstring ForLog(const String& text) { return StringConversion::ConvertUTF8ToCAtlStringW(text); }
  // Characters, not bytes, so that both forms accept the same paths.
  static std::size_t Characters(const String& text) { return ForLog(text).size(); }
  static std::string Narrow(const String& text) { return text; }

  static std::string Bytes(const String& text) { return text; }
  static std::string BinaryOfText(const String& text) {
    return text.empty() ? std::string() : text + std::string(1, '\0');
  }
};

template <typename CharT>
class Operations {
 public:
  using F = Form<CharT>;
  using String = typename F::String;

  static std::string Name(const char* operation) { return std::string(operation) + F::kSuffix; }

  static void ValidateKeyPathLength(const String& text) {
    if (F::Characters(text) <= static_cast<std::size_t>(Registry::kMaxKeyPathLength)) return;
    Log(kClassName, kLogLevelWarning, "%s - Registry key path %S has exceeded the max character limit of %d",
        Name("ValidateKeyPathLength").c_str(), F::ForLog(text).c_str(), Registry::kMaxKeyPathLength);
    throw KestUtils::RegKeyPathSizeException();
  }

  // The platform calls take C strings: a path or value name with an embedded
  // NUL would reach them cut at the NUL and name another key (a cache entry
  // for "victim\0.poison" landing on "victim"). Such text is refused whole.
  static void RefuseEmbeddedNul(const std::string& op, const String& text, const char* parameter) {
    if (text.find(CharT{0}) == String::npos) return;
    KestLog::LogInvalidArgument(kClassName, op.c_str(), parameter);
    throw KestBase::InvalidParameterException();
  }

  static bool DoesKeyExist(HKEY root, const String& path) {
    const std::string op = Name("DoesKeyExist");
    if (!Prologue(op, root, path)) return false;
    OpenedKey key;
    const LONG rc = F::Open(root, path, KEY_READ, key.Receive());
    if (rc == ERROR_SUCCESS) return true;
    LogOpenFailure(op, path, rc, LevelForMissing(rc));
    return false;
  }

  static bool DoesValNameExist(HKEY root, const String& path, const String& name) {
    const std::string op = Name("DoesValNameExist");
    if (!Prologue(op, root, path)) return false;
    RefuseEmbeddedNul(op, name, "value name");
    OpenedKey key;
    LONG rc = F::Open(root, path, KEY_READ, key.Receive());
    if (rc != ERROR_SUCCESS) {
      LogOpenFailure(op, path, rc, LevelForMissing(rc));
      return false;
    }
    rc = F::Query(key.Get(), name, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) return true;
    LogQueryFailure(op, path, name, rc, LevelForMissing(rc));
    return false;
  }

  static bool GetValueRegType(HKEY root, const String& path, const String& name, DWORD& type) {
    const std::string op = Name("GetValueRegType");
    if (!Prologue(op, root, path)) return false;
    OpenedKey key;
    return OpenForTypeQuery(op, root, path, name, key) && QueryType(op, key.Get(), path, name, type);
  }

  static bool GetKeyVal(HKEY openKey, const String& name, String& value) {
    const std::string op = Name("GetKeyVal");
    if (openKey == nullptr) {
      KestLog::LogInvalidArgument(kClassName, op.c_str(), "hKey");
      throw KestBase::InvalidParameterException();
    }
    value.clear();
    String block;
    const LONG rc = ReadText(openKey, name, block);
    if (rc != ERROR_SUCCESS) {
      Log(kClassName, kLogLevelWarning, "%s - Calling RegQueryValueExW for key value %S failed with error %d",
          op.c_str(), F::ForLog(name).c_str(), static_cast<int>(rc));
      return false;
    }
    // The stored text need not end with a terminator: it ends at the first
    // one, or where the data ends.
    const std::size_t end = block.find(CharT(0));
    value = block.substr(0, end);
    return true;
  }

  static bool GetDwordKeyVal(HKEY root, const String& path, const String& name, DWORD& value) {
    return GetTyped("GetDwordKeyVal", root, path, name, Registry::REG_VALUE_TYPE_DWORD,
                    "%s - Registry key %S value name %S type %d is not a DWORD type",
                    [&](const std::string& op, HKEY key) {
                      DWORD data = 0;
                      DWORD size = sizeof data;
                      LONG rc = F::Query(key, name, nullptr, reinterpret_cast<BYTE*>(&data), &size);
                      if (rc == ERROR_SUCCESS && size != sizeof data) rc = kErrorInvalidData;
                      if (rc != ERROR_SUCCESS) {
                        LogQueryFailure(op, path, name, rc, kLogLevelWarning);
                        return false;
                      }
                      value = data;
                      return true;
                    });
  }

  static bool GetStringKeyVal(HKEY root, const String& path, const String& name, String& value) {
    return GetTyped("GetStringKeyVal", root, path, name, Registry::REG_VALUE_TYPE_STRING,
                    "%s - Registry key %S value name %S type %d is not a string type",
                    [&](const std::string&, HKEY key) { return GetKeyVal(key, name, value); });
  }

  static bool GetExpandStringKeyVal(HKEY root, const String& path, const String& name, String& value) {
    return GetTyped("GetExpandStringKeyVal", root, path, name, Registry::REG_VALUE_TYPE_EXPAND_STRING,
                    "%s - Registry key %S value name %S type %d is not an expand string type",
                    [&](const std::string&, HKEY key) { return GetKeyVal(key, name, value); });
  }

  static bool GetMultiStringKeyVal(HKEY root, const String& path, const String& name, std::vector<String>& values) {
    values.clear();
    return GetTyped("GetMultiStringKeyVal", root, path, name, Registry::REG_VALUE_TYPE_MULTI_STRING,
                    "%s - Registry key %S value name %S type %d is not a multi string type",
                    [&](const std::string& op, HKEY key) {
                      String block;
                      const LONG rc = ReadText(key, name, block);
                      if (rc != ERROR_SUCCESS) {
                        LogQueryFailure(op, path, name, rc, kLogLevelWarning);
                        return false;
                      }
                      values = SplitMultiString(block);
                      return true;
                    });
  }

  // The open-key forms: one query or one write on the caller's key, no walk
  // from a root. Failures are logged with the key's display path.
  static bool GetDwordVal(HKEY key, const String& name, DWORD& value) {
    const std::string op = Name("GetDwordVal");
    RequireOpenKey(op, key, name);
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    // A value of another type and size answers ERROR_MORE_DATA with its type.
    LONG rc = F::Query(key, name, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (rc == ERROR_SUCCESS || rc == static_cast<LONG>(ERROR_MORE_DATA)) {
      RequireType(op, key, name, type, Registry::REG_VALUE_TYPE_DWORD,
                  "%s - Registry key %S value name %S type %d is not a DWORD type");
      if (rc == ERROR_SUCCESS && size != sizeof data) rc = kErrorInvalidData;
    }
    if (rc != ERROR_SUCCESS) {
      LogOpenKeyQueryFailure(op, key, name, rc);
      return false;
    }
    value = data;
    return true;
  }

  static bool GetMultiStringVal(HKEY key, const String& name, std::vector<String>& values) {
    const std::string op = Name("GetMultiStringVal");
    values.clear();
    RequireOpenKey(op, key, name);
    String block;
    DWORD type = REG_NONE;
    const LONG rc = ReadText(key, name, block, &type);
    if (rc != ERROR_SUCCESS) {
      LogOpenKeyQueryFailure(op, key, name, rc);
      return false;
    }
    RequireType(op, key, name, type, Registry::REG_VALUE_TYPE_MULTI_STRING,
                "%s - Registry key %S value name %S type %d is not a multi string type");
    values = SplitMultiString(block);
    return true;
  }

  static bool SetDwordVal(HKEY key, const String& name, DWORD value) {
    const std::string op = Name("SetDwordVal");
    RequireOpenKey(op, key, name);
    ValidateKeyPathLength(name);
    WriteOrThrow(op, key, DisplayPathOf(key), name, REG_DWORD,
                 std::string(reinterpret_cast<const char*>(&value), sizeof value));
    return true;
  }

  static bool SetMultiStringVal(HKEY key, const String& name, const std::vector<String>& values) {
    const std::string op = Name("SetMultiStringVal");
    RequireOpenKey(op, key, name);
    ValidateKeyPathLength(name);
    WriteOrThrow(op, key, DisplayPathOf(key), name, REG_MULTI_SZ, F::Bytes(MultiStringBlock(op, values)));
    return true;
  }

  static void GetSubKeyNames(HKEY root, const String& path, std::vector<String>& names) {
    const std::string op = Name("GetSubKeyNames");
    names.clear();
    if (!Prologue(op, root, path)) return;
    OpenedKey key;
    const LONG openRc = F::Open(root, path, KEY_READ, key.Receive());
    if (openRc != ERROR_SUCCESS) {
      LogOpenFailure(op, path, openRc, kLogLevelWarning);
      return;
    }
    std::vector<CharT> buffer(kSubKeyNameBufferUnits);
    for (DWORD index = 0;; ++index) {
      DWORD length = static_cast<DWORD>(buffer.size());
      const LONG rc = F::EnumKey(key.Get(), index, buffer.data(), &length);
      if (rc == static_cast<LONG>(ERROR_NO_MORE_ITEMS)) break;
      if (rc != ERROR_SUCCESS) {
        Log(kClassName, kLogLevelTrace, "%s - Calling RegEnumKeyExW for key %S failed with error %d", op.c_str(),
            F::ForLog(path).c_str(), static_cast<int>(rc));
        break;
      }
      names.emplace_back(buffer.data(), length);
    }
  }

  static bool SetStringKeyVal(const char* operation, HKEY root, const String& path, const String& name,
                              const String& value) {
    String terminated = value;
    terminated.push_back(CharT(0));
    return SetValue(operation, root, path, name, REG_SZ, F::Bytes(terminated));
  }

  static bool SetDwordKeyVal(HKEY root, const String& path, const String& name, DWORD value) {
    return SetValue("SetDwordKeyVal", root, path, name, REG_DWORD,
                    std::string(reinterpret_cast<const char*>(&value), sizeof value));
  }

  static bool SetMultiStringKeyVal(HKEY root, const String& path, const String& name,
                                   const std::vector<String>& values) {
    const String block = MultiStringBlock(Name("SetMultiStringKeyVal"), values);
    return SetValue("SetMultiStringKeyVal", root, path, name, REG_MULTI_SZ, F::Bytes(block));
  }

  static bool SetBinaryKeyValFromString(HKEY root, const String& path, const String& name, const String& value) {
    const std::string op = Name("SetBinaryKeyValFromString");
    if (root == nullptr || path.empty() || name.empty()) {
      KestLog::LogInvalidArgument(kClassName, op.c_str(), "hKey, sub key path, or value name");
      throw KestBase::InvalidParameterException();
    }
    ValidateKeyPathLength(path);
    ValidateKeyPathLength(name);
    RefuseEmbeddedNul(op, path, "sub key path");
    RefuseEmbeddedNul(op, name, "value name");
    if (!PathConverts(op, path)) return false;
    OpenedKey key;
    CreateOrThrow(op, root, path, key);
    WriteOrThrow(op, key.Get(), path, name, REG_BINARY, F::BinaryOfText(value));
    return true;
  }

  static bool CreateKey(HKEY root, const String& path) {
    const std::string op = Name("CreateKey");
    if (!Prologue(op, root, path)) return false;
    OpenedKey key;
    CreateOrThrow(op, root, path, key);
    return true;
  }

  static bool DeleteKey(HKEY root, const String& path) {
    const std::string op = Name("DeleteKey");
    if (!Prologue(op, root, path)) return false;
    if (F::Delete(root, path) == ERROR_SUCCESS) return true;
    // Still has sub-keys: remove them depth first, then the key itself.
    std::vector<String> subKeys;
    GetSubKeyNames(root, path, subKeys);
    for (const String& subKey : subKeys) DeleteKey(root, path + F::kSeparator + subKey);
    const LONG rc = F::Delete(root, path);
    if (rc == ERROR_SUCCESS) return true;
    Log(kClassName, kLogLevelWarning, "%s - Calling RegDeleteValue for key value %S failed with error %d", op.c_str(),
        F::ForLog(path).c_str(), static_cast<int>(rc));
    return false;
  }

 private:
  // A missing key is routine for the existence tests; other failures are not.
  static BYTE LevelForMissing(LONG rc) {
    return rc == static_cast<LONG>(ERROR_FILE_NOT_FOUND) ? kLogLevelTrace : kLogLevelWarning;
  }

  static bool PathConverts(const std::string& op, const String& path) {
    if (!F::Narrow(path).empty()) return true;
    Log(kClassName, kLogLevelWarning, "%s - sub key path is empty string", op.c_str());
    return false;
  }

  // The common rules 1 to 3: arguments, the length limit, and a path that
  // must still be there in narrow text.
  static bool Prologue(const std::string& op, HKEY root, const String& path) {
    if (root == nullptr || path.empty()) {
      KestLog::LogInvalidArgument(kClassName, op.c_str(), "hKey or sub key path");
      throw KestBase::InvalidParameterException();
    }
    ValidateKeyPathLength(path);
    RefuseEmbeddedNul(op, path, "sub key path");
    return PathConverts(op, path);
  }

  // GetValueRegType's first steps: a missing key is logged and reported as false.
  static bool OpenForTypeQuery(const std::string& op, HKEY root, const String& path, const String& name,
                               OpenedKey& key) {
    RefuseEmbeddedNul(op, name, "value name");
    if (F::Open(root, path, KEY_READ, key.Receive()) == ERROR_SUCCESS) return true;
    LogMissingKey(op, path);
    return false;
  }

  static bool QueryType(const std::string& op, HKEY key, const String& path, const String& name, DWORD& type) {
    DWORD registryType = REG_NONE;
    const LONG rc = F::Query(key, name, &registryType, nullptr, nullptr);
    if (rc == static_cast<LONG>(ERROR_FILE_NOT_FOUND)) {
      LogQueryFailure(op, path, name, rc, kLogLevelTrace);
      return false;
    }
    if (rc != ERROR_SUCCESS) {
      LogQueryFailure(op, path, name, rc, kLogLevelWarning);
      throw KestUtils::RegQueryValueException();
    }
    type = EnumerationOf(registryType);
    if (type == Registry::REG_VALUE_TYPE_UNSUPPORTED) {
      Log(kClassName, kLogLevelWarning, "%s - Invalid type %d for registry key %S value name %S", op.c_str(),
          static_cast<int>(registryType), F::ForLog(path).c_str(), F::ForLog(name).c_str());
    }
    return true;
  }

  static bool KeyExistsQuietly(HKEY root, const String& path) {
    OpenedKey key;
    return F::Open(root, path, KEY_READ, key.Receive()) == ERROR_SUCCESS;
  }

  static void LogMissingKey(const std::string& op, const String& path) {
    Log(kClassName, kLogLevelTrace, "%s - Registry key %S does not exist", op.c_str(), F::ForLog(path).c_str());
  }

  static void LogOpenFailure(const std::string& op, const String& path, LONG rc, BYTE level) {
    Log(kClassName, level, "%s - Calling RegOpenKeyExW for key %S failed with error %d", op.c_str(),
        F::ForLog(path).c_str(), static_cast<int>(rc));
  }

  static void LogQueryFailure(const std::string& op, const String& path, const String& name, LONG rc, BYTE level) {
    Log(kClassName, level, "%s - Calling RegQueryValueExW for key %S value name %S failed with error %d",
        op.c_str(), F::ForLog(path).c_str(), F::ForLog(name).c_str(), static_cast<int>(rc));
  }

  static void OpenOrThrow(const std::string& op, HKEY root, const String& path, REGSAM access, OpenedKey& key) {
    const LONG rc = F::Open(root, path, access, key.Receive());
    if (rc == ERROR_SUCCESS) return;
    LogOpenFailure(op, path, rc, kLogLevelWarning);
    throw KestUtils::RegOpenKeyException();
  }

  static void CreateOrThrow(const std::string& op, HKEY root, const String& path, OpenedKey& key) {
    const LONG rc = F::Create(root, path, key.Receive());
    if (rc == ERROR_SUCCESS) return;
    Log(kClassName, kLogLevelWarning, "%s - Calling RegCreateKeyExW for key %S failed with error %d", op.c_str(),
        F::ForLog(path).c_str(), static_cast<int>(rc));
    throw KestUtils::RegCreateKeyException();
  }

  static void WriteOrThrow(const std::string& op, HKEY key, const String& path, const String& name, DWORD type,
                           const std::string& bytes) {
    const LONG rc = F::Set(key, name, type, bytes);
    if (rc == ERROR_SUCCESS) return;
    Log(kClassName, kLogLevelWarning, "%s - Calling RegSetValueExW for key %S value name %S failed with error %d",
        op.c_str(), F::ForLog(path).c_str(), F::ForLog(name).c_str(), static_cast<int>(rc));
    throw KestUtils::RegSetValueException();
  }

  // The stored form of a multi-string: each text with its terminator, then
  // one more. An empty text, or one holding a terminator, would end the list
  // early and every later text would be lost on reading: refused instead.
  static String MultiStringBlock(const std::string& op, const std::vector<String>& values) {
    String block;
    for (const String& item : values) {
      if (item.empty() || item.find(CharT(0)) != String::npos) {
        KestLog::LogInvalidArgument(kClassName, op.c_str(), "p_vecValues");
        throw KestBase::InvalidParameterException();
      }
      block += item;
      block.push_back(CharT(0));
    }
    block.push_back(CharT(0));
    return block;
  }

  // Each text ends at its terminator; the first empty one ends the list.
  static std::vector<String> SplitMultiString(const String& block) {
    std::vector<String> values;
    for (std::size_t start = 0; start < block.size();) {
      const std::size_t end = block.find(CharT(0), start);
      String item = block.substr(start, end == String::npos ? String::npos : end - start);
      if (item.empty()) break;
      values.push_back(std::move(item));
      if (end == String::npos) break;
      start = end + 1;
    }
    return values;
  }

  static void RequireOpenKey(const std::string& op, HKEY key, const String& name) {
    if (key == nullptr) {
      KestLog::LogInvalidArgument(kClassName, op.c_str(), "hKey");
      throw KestBase::InvalidParameterException();
    }
    RefuseEmbeddedNul(op, name, "value name");
  }

  // The key's path as the log lines of the path forms show it, in this form's text.
  static String DisplayPathOf(HKEY key) {
    const std::wstring path = kestnet::platform::RegKeyPathForDisplay(key);
    if constexpr (sizeof(CharT) == 1) {
      return StringConversion::ConvertCAtlStringWToANSI(path);
    } else {
      return path;
    }
  }

  static void LogOpenKeyQueryFailure(const std::string& op, HKEY key, const String& name, LONG rc) {
    LogQueryFailure(op, DisplayPathOf(key), name, rc, LevelForMissing(rc));
  }

  static void RequireType(const std::string& op, HKEY key, const String& name, DWORD registryType, DWORD expected,
                          const char* mismatchFormat) {
    const DWORD type = EnumerationOf(registryType);
    if (type == expected) return;
    Log(kClassName, kLogLevelWarning, mismatchFormat, op.c_str(), F::ForLog(DisplayPathOf(key)).c_str(),
        F::ForLog(name).c_str(), static_cast<int>(type));
    throw KestUtils::RegValueTypeMismatch();
  }

  // Reads a text value whole: a first try with kFirstReadCharacters, then with
  // the size the store reports (again if the value grew meanwhile).
  static LONG ReadText(HKEY key, const String& name, String& text, DWORD* type = nullptr) {
    std::vector<BYTE> buffer(kFirstReadCharacters * sizeof(CharT));
    LONG rc = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
      DWORD size = static_cast<DWORD>(buffer.size());
      rc = F::Query(key, name, type, buffer.data(), &size);
      if (rc == static_cast<LONG>(ERROR_MORE_DATA)) {
        buffer.resize(size);
        continue;
      }
      if (rc != ERROR_SUCCESS) return rc;
      text.assign(size / sizeof(CharT), CharT(0));
      if (!text.empty()) std::memcpy(text.data(), buffer.data(), text.size() * sizeof(CharT));
      return ERROR_SUCCESS;
    }
    return rc;
  }

  // The typed getters: rules 1 to 4, the read under an open key, rule 7.
  template <typename Reader>
  static bool GetTyped(const char* operation, HKEY root, const String& path, const String& name, DWORD expected,
                       const char* mismatchFormat, Reader read) {
    const std::string op = Name(operation);
    if (!Prologue(op, root, path)) return false;
    DWORD type = Registry::REG_VALUE_TYPE_UNSUPPORTED;
    // The key is opened once for the type and the read (GetValueRegType's
    // rules and log lines, without walking to the key three times).
    const std::string typeOp = Name("GetValueRegType");
    OpenedKey key;
    if (!OpenForTypeQuery(typeOp, root, path, name, key) || !QueryType(typeOp, key.Get(), path, name, type)) {
      return false;
    }
    if (type != expected) {
      Log(kClassName, kLogLevelWarning, mismatchFormat, op.c_str(), F::ForLog(path).c_str(), F::ForLog(name).c_str(),
          static_cast<int>(type));
      throw KestUtils::RegValueTypeMismatch();
    }
    return read(op, key.Get());
  }

  // The setters (but SetBinaryKeyValFromString): the key is created when
  // missing, then opened with full access and written.
  static bool SetValue(const char* operation, HKEY root, const String& path, const String& name, DWORD type,
                       const std::string& bytes) {
    const std::string op = Name(operation);
    if (root == nullptr || path.empty()) {
      KestLog::LogInvalidArgument(kClassName, op.c_str(), "hKey or sub key path");
      throw KestBase::InvalidParameterException();
    }
    ValidateKeyPathLength(path);
    ValidateKeyPathLength(name);
    RefuseEmbeddedNul(op, path, "sub key path");
    RefuseEmbeddedNul(op, name, "value name");
    if (!PathConverts(op, path)) return false;
    if (!KeyExistsQuietly(root, path)) {
      LogMissingKey(op, path);
      CreateKey(root, path);
    }
    OpenedKey key;
    OpenOrThrow(op, root, path, KEY_ALL_ACCESS, key);
    WriteOrThrow(op, key.Get(), path, name, type, bytes);
    return true;
  }
};

using Wide = Operations<wchar_t>;
using Narrow = Operations<char>;

}  // namespace

bool Registry::DoesKeyExist(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath) {
  return Wide::DoesKeyExist(p_hKey, p_cstrwSubKeyPath);
}
bool Registry::DoesValNameExist(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                                const std::wstring& p_cstrwValueName) {
  return Wide::DoesValNameExist(p_hKey, p_cstrwSubKeyPath, p_cstrwValueName);
}
bool Registry::GetValueRegType(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                               const std::wstring& p_cstrwValueName, DWORD& p_dwType) {
  return Wide::GetValueRegType(p_hKey, p_cstrwSubKeyPath, p_cstrwValueName, p_dwType);
}
bool Registry::GetKeyVal(HKEY p_hOpenKey, const std::wstring& p_cstrwValueName, std::wstring& p_cstrwValue) {
  return Wide::GetKeyVal(p_hOpenKey, p_cstrwValueName, p_cstrwValue);
}
Registry::OpenedKey::~OpenedKey() { Reset(); }
void Registry::OpenedKey::Reset() {
  if (m_hKey != nullptr) RegCloseKey(m_hKey);
  m_hKey = nullptr;
}
bool Registry::GetDwordVal(HKEY p_hOpenKey, const std::wstring& p_cstrwValueName, DWORD& p_dwValue) {
  return Wide::GetDwordVal(p_hOpenKey, p_cstrwValueName, p_dwValue);
}
bool Registry::GetMultiStringVal(HKEY p_hOpenKey, const std::wstring& p_cstrwValueName,
                                 std::vector<std::wstring>& p_vecValues) {
  return Wide::GetMultiStringVal(p_hOpenKey, p_cstrwValueName, p_vecValues);
}
bool Registry::SetDwordVal(HKEY p_hOpenKey, const std::wstring& p_cstrwValueName, DWORD p_dwValue) {
  return Wide::SetDwordVal(p_hOpenKey, p_cstrwValueName, p_dwValue);
}
bool Registry::SetMultiStringVal(HKEY p_hOpenKey, const std::wstring& p_cstrwValueName,
                                 const std::vector<std::wstring>& p_vecValues) {
  return Wide::SetMultiStringVal(p_hOpenKey, p_cstrwValueName, p_vecValues);
}
bool Registry::GetDwordKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                              const std::wstring& p_cstrwValueName, DWORD& p_dwValue) {
  return Wide::GetDwordKeyVal(p_hKey, p_cstrwSubKeyPath, p_cstrwValueName, p_dwValue);
}
bool Registry::GetStringKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                               const std::wstring& p_cstrwValueName, std::wstring& p_cstrwValue) {
  return Wide::GetStringKeyVal(p_hKey, p_cstrwSubKeyPath, p_cstrwValueName, p_cstrwValue);
}
bool Registry::GetExpandStringKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                                     const std::wstring& p_cstrwValueName, std::wstring& p_cstrwValue) {
  return Wide::GetExpandStringKeyVal(p_hKey, p_cstrwSubKeyPath, p_cstrwValueName, p_cstrwValue);
}
bool Registry::GetMultiStringKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                                    const std::wstring& p_cstrwValueName, std::vector<std::wstring>& p_vecValues) {
  return Wide::GetMultiStringKeyVal(p_hKey, p_cstrwSubKeyPath, p_cstrwValueName, p_vecValues);
}
void Registry::GetSubKeyNames(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                              std::vector<std::wstring>& p_vecSubKeyNames) {
  Wide::GetSubKeyNames(p_hKey, p_cstrwSubKeyPath, p_vecSubKeyNames);
}
bool Registry::SetKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath, const std::wstring& p_cstrwValueName,
                         const std::wstring& p_cstrwValue) {
  return Wide::SetStringKeyVal("SetKeyVal", p_hKey, p_cstrwSubKeyPath, p_cstrwValueName, p_cstrwValue);
}
bool Registry::SetStringKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                               const std::wstring& p_cstrwValueName, const std::wstring& p_cstrwValue) {
  return Wide::SetStringKeyVal("SetStringKeyVal", p_hKey, p_cstrwSubKeyPath, p_cstrwValueName, p_cstrwValue);
}
bool Registry::SetDwordKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                              const std::wstring& p_cstrwValueName, DWORD p_dwValue) {
  return Wide::SetDwordKeyVal(p_hKey, p_cstrwSubKeyPath, p_cstrwValueName, p_dwValue);
}
bool Registry::SetMultiStringKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                                    const std::wstring& p_cstrwValueName,
                                    const std::vector<std::wstring>& p_vecValues) {
  return Wide::SetMultiStringKeyVal(p_hKey, p_cstrwSubKeyPath, p_cstrwValueName, p_vecValues);
}
bool Registry::SetBinaryKeyValFromString(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                                         const std::wstring& p_cstrwValueName, const std::wstring& p_cstrwValue) {
  return Wide::SetBinaryKeyValFromString(p_hKey, p_cstrwSubKeyPath, p_cstrwValueName, p_cstrwValue);
}
bool Registry::CreateKey(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath) {
  return Wide::CreateKey(p_hKey, p_cstrwSubKeyPath);
}
bool Registry::DeleteKey(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath) {
  return Wide::DeleteKey(p_hKey, p_cstrwSubKeyPath);
}
void Registry::ValidateKeyPathLength(const std::wstring& p_cstrwSubKeyPath) {
  Wide::ValidateKeyPathLength(p_cstrwSubKeyPath);
}

bool Registry::DoesKeyExistA(HKEY p_hKey, const std::string& p_strSubKeyPath) {
  return Narrow::DoesKeyExist(p_hKey, p_strSubKeyPath);
}
bool Registry::DoesValNameExistA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName) {
  return Narrow::DoesValNameExist(p_hKey, p_strSubKeyPath, p_strValueName);
}
bool Registry::GetValueRegTypeA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName,
                                DWORD& p_dwType) {
  return Narrow::GetValueRegType(p_hKey, p_strSubKeyPath, p_strValueName, p_dwType);
}
bool Registry::GetKeyValA(HKEY p_hOpenKey, const std::string& p_strValueName, std::string& p_strValue) {
  return Narrow::GetKeyVal(p_hOpenKey, p_strValueName, p_strValue);
}
bool Registry::GetDwordKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName,
                               DWORD& p_dwValue) {
  return Narrow::GetDwordKeyVal(p_hKey, p_strSubKeyPath, p_strValueName, p_dwValue);
}
bool Registry::GetStringKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName,
                                std::string& p_strValue) {
  return Narrow::GetStringKeyVal(p_hKey, p_strSubKeyPath, p_strValueName, p_strValue);
}
bool Registry::GetExpandStringKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath,
                                      const std::string& p_strValueName, std::string& p_strValue) {
  return Narrow::GetExpandStringKeyVal(p_hKey, p_strSubKeyPath, p_strValueName, p_strValue);
}
bool Registry::GetMultiStringKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath,
                                     const std::string& p_strValueName, std::vector<std::string>& p_vecValues) {
  return Narrow::GetMultiStringKeyVal(p_hKey, p_strSubKeyPath, p_strValueName, p_vecValues);
}
void Registry::GetSubKeyNamesA(HKEY p_hKey, const std::string& p_strSubKeyPath,
                               std::vector<std::string>& p_vecSubKeyNames) {
  Narrow::GetSubKeyNames(p_hKey, p_strSubKeyPath, p_vecSubKeyNames);
}
bool Registry::SetKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName,
                          const std::string& p_strValue) {
  return Narrow::SetStringKeyVal("SetKeyVal", p_hKey, p_strSubKeyPath, p_strValueName, p_strValue);
}
bool Registry::SetStringKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName,
                                const std::string& p_strValue) {
  return Narrow::SetStringKeyVal("SetStringKeyVal", p_hKey, p_strSubKeyPath, p_strValueName, p_strValue);
}
bool Registry::SetDwordKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName,
                               DWORD p_dwValue) {
  return Narrow::SetDwordKeyVal(p_hKey, p_strSubKeyPath, p_strValueName, p_dwValue);
}
bool Registry::SetMultiStringKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath,
                                     const std::string& p_strValueName, const std::vector<std::string>& p_vecValues) {
  return Narrow::SetMultiStringKeyVal(p_hKey, p_strSubKeyPath, p_strValueName, p_vecValues);
}
bool Registry::SetBinaryKeyValFromStringA(HKEY p_hKey, const std::string& p_strSubKeyPath,
                                          const std::string& p_strValueName, const std::string& p_strValue) {
  return Narrow::SetBinaryKeyValFromString(p_hKey, p_strSubKeyPath, p_strValueName, p_strValue);
}
bool Registry::CreateKeyA(HKEY p_hKey, const std::string& p_strSubKeyPath) {
  return Narrow::CreateKey(p_hKey, p_strSubKeyPath);
}
bool Registry::DeleteKeyA(HKEY p_hKey, const std::string& p_strSubKeyPath) {
  return Narrow::DeleteKey(p_hKey, p_strSubKeyPath);
}
void Registry::ValidateKeyPathLengthA(const std::string& p_strSubKeyPath) {
  Narrow::ValidateKeyPathLength(p_strSubKeyPath);
}

}  // namespace KestUtilsLib

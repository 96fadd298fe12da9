// kestnet reg: looks at and changes the registry store, in the manner of reg.exe.
//
//   kestnet reg query  KEY [/v NAME | /ve] [/s]
//   kestnet reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   kestnet reg delete KEY [/v NAME | /ve | /va] [/f]
//
// Everything goes through the same registry calls the libraries use (their
// narrow, UTF-8 forms), so what this shows is exactly what they see.
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/verbs.h"
#include "platform/registry/registry.h"

namespace kestnet::host {
namespace {

constexpr const char* kUsage =
    "usage: kestnet reg query  KEY [/v NAME | /ve] [/s]\n"
    "       kestnet reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
    "       kestnet reg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "\n"
    "KEY is ROOT\\Path\\Of\\Key, ROOT one of HKLM (HKEY_LOCAL_MACHINE), HKCU\n"
    "(HKEY_CURRENT_USER) or HKCR (HKEY_CLASSES_ROOT, the merged classes of both).\n"
    "Names compare without regard to case.\n"
    "\n"
    "  /v NAME     the value NAME          (also -v NAME, --value NAME)\n"
    "  /ve         the key's default value (also -ve, --empty-value)\n"
    "  /va         every value of the key  (delete; also -va, --all-values)\n"
    "  /s          query: the key and every key below it (also -s, --recursive)\n"
    "              add: the separator of REG_MULTI_SZ strings in DATA (default \\0)\n"
    "  /t TYPE     REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,\n"
    "              REG_QWORD or REG_BINARY            (also -t, --type)\n"
    "  /d DATA     the data: text; a number (decimal or 0x hex) for REG_DWORD\n"
    "              and REG_QWORD; hex digits for REG_BINARY (also -d, --data)\n"
    "  /f          overwrite or delete without asking (also -f, --force)\n"
    "  -h, --help  show this text\n"
    "\n"
    "Without /f, overwriting a value or deleting asks on standard input; an answer\n"
    "other than yes (or no answer) cancels. The store lives under KESTNET_HOME\n"
    "when it is set.\n";

// --- tables -------------------------------------------------------------------

struct RootName {
  const char* shortName;
  const char* longName;
  HKEY key;
};

const RootName kRoots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
};

struct TypeName {
  DWORD type;
  const char* name;
  bool acceptedByAdd;
};

constexpr TypeName kTypes[] = {
    {REG_NONE, "REG_NONE", false},          {REG_SZ, "REG_SZ", true},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ", true}, {REG_BINARY, "REG_BINARY", true},
    {REG_DWORD, "REG_DWORD", true},         {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN", false},
    {REG_LINK, "REG_LINK", false},          {REG_MULTI_SZ, "REG_MULTI_SZ", true},
    {REG_QWORD, "REG_QWORD", true},
};

struct ErrorText {
  LONG code;
  const char* text;
};

// reg.exe's wording for the failures a user meets.
constexpr ErrorText kErrorTexts[] = {
    {static_cast<LONG>(ERROR_FILE_NOT_FOUND), "The system was unable to find the specified registry key or value."},
    {static_cast<LONG>(ERROR_ACCESS_DENIED), "Access is denied."},
    {static_cast<LONG>(ERROR_BAD_PATHNAME), "The specified path is invalid."},
    {static_cast<LONG>(ERROR_INVALID_PARAMETER), "The parameter is incorrect."},
    {static_cast<LONG>(ERROR_KEY_DELETED),
     "Illegal operation attempted on a registry key that has been marked for deletion."},
    {static_cast<LONG>(ERROR_REGISTRY_CORRUPT), "The registry store is corrupt."},
    {static_cast<LONG>(ERROR_CANTOPEN), "The registry store could not be opened."},
    {static_cast<LONG>(ERROR_TIMEOUT), "The registry store stayed busy; try again."},
};

bool EqualsIgnoringAsciiCase(const std::string& a, const char* b) {
  const std::size_t length = std::strlen(b);
  if (a.size() != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string TypeDisplayName(DWORD type) {
  for (const TypeName& entry : kTypes) {
    if (entry.type == type) return entry.name;
  }
  char text[32];
  std::snprintf(text, sizeof text, "REG_0x%" PRIX32, type);
  return text;
}

int Failure(LONG code) {
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) {
      std::fprintf(stderr, "ERROR: %s\n", entry.text);
      return 1;
    }
  }
  std::fprintf(stderr, "ERROR: The registry call failed with error %ld.\n", static_cast<long>(code));
  return 1;
}

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "kestnet reg: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

// --- arguments ----------------------------------------------------------------

enum class Operation { kQuery, kAdd, kDelete };

struct Options {
  Operation operation = Operation::kQuery;
  HKEY root = nullptr;
  std::string rootName;  // long name, for display
  std::string subkey;    // below the root, without leading or trailing separators
  std::optional<std::string> valueName;  // set by /v or /ve ("")
  bool allValues = false;
  bool recursive = false;
  std::optional<std::string> separator;
  std::optional<DWORD> type;
  std::optional<std::string> data;
  bool force = false;
};

struct Flag {
  const char* spellings[3];
  bool takesArgument;
  const char* id;
};

const Flag kFlags[] = {
    {{"/v", "-v", "--value"}, true, "v"},       {{"/ve", "-ve", "--empty-value"}, false, "ve"},
    {{"/va", "-va", "--all-values"}, false, "va"}, {{"/s", "-s", "--recursive"}, false, "s"},
    {{"/t", "-t", "--type"}, true, "t"},        {{"/d", "-d", "--data"}, true, "d"},
    {{"/f", "-f", "--force"}, false, "f"},
};

const Flag* FindFlag(const std::string& arg) {
  for (const Flag& flag : kFlags) {
    for (const char* spelling : flag.spellings) {
      if (EqualsIgnoringAsciiCase(arg, spelling)) return &flag;
    }
  }
  return nullptr;
}

// Splits "HKLM\Software\X" into its root and the rest.
bool ParseKey(const std::string& text, Options& options) {
  const std::size_t separator = text.find('\\');
  const std::string root = text.substr(0, separator);
  std::string rest = separator == std::string::npos ? std::string() : text.substr(separator + 1);
  while (!rest.empty() && rest.back() == '\\') rest.pop_back();
  for (const RootName& entry : kRoots) {
    if (EqualsIgnoringAsciiCase(root, entry.shortName) || EqualsIgnoringAsciiCase(root, entry.longName)) {
      options.root = entry.key;
      options.rootName = entry.longName;
      options.subkey = rest;
      return true;
    }
  }
  return false;
}

std::string KeyDisplay(const Options& options) {
  return options.subkey.empty() ? options.rootName : options.rootName + "\\" + options.subkey;
}

// Returns 0 when parsed, else the exit code (usage printed); helpShown when --help.
int ParseOptions(const std::vector<std::string>& args, Options& options, bool& helpShown) {
  helpShown = false;
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help" || arg == "/?") {
      std::fputs(kUsage, stdout);
      helpShown = true;
      return 0;
    }
  }
  if (args.empty()) return UsageError("missing operation (query, add or delete)");
  const std::string& operation = args[0];
  if (EqualsIgnoringAsciiCase(operation, "query")) {
    options.operation = Operation::kQuery;
  } else if (EqualsIgnoringAsciiCase(operation, "add")) {
    options.operation = Operation::kAdd;
  } else if (EqualsIgnoringAsciiCase(operation, "delete")) {
    options.operation = Operation::kDelete;
  } else {
    return UsageError("unknown operation '" + operation + "'");
  }
  if (args.size() < 2) return UsageError("missing KEY");
  if (!ParseKey(args[1], options)) {
    return UsageError("'" + args[1] + "' does not start with HKLM, HKCU or HKCR");
  }
  std::vector<std::string> seen;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const Flag* flag = FindFlag(args[i]);
    if (flag == nullptr) return UsageError("unknown option '" + args[i] + "'");
    const std::string id = flag->id;
    for (const std::string& earlier : seen) {
      if (earlier == id) return UsageError("option '" + args[i] + "' given twice");
    }
    seen.push_back(id);
    std::string argument;
    if (flag->takesArgument) {
      if (i + 1 >= args.size()) return UsageError("option '" + args[i] + "' needs an argument");
      argument = args[++i];
    }
    if (id == "v") {
      options.valueName = argument;
    } else if (id == "ve") {
      options.valueName = std::string();
    } else if (id == "va") {
      options.allValues = true;
    } else if (id == "s") {
      if (options.operation == Operation::kAdd) {
        if (i + 1 >= args.size()) return UsageError("option '" + args[i] + "' needs a separator");
        options.separator = args[++i];
        if (options.separator->empty()) return UsageError("the separator cannot be empty");
      } else {
        options.recursive = true;
      }
    } else if (id == "t") {
      for (const TypeName& entry : kTypes) {
        if (entry.acceptedByAdd && EqualsIgnoringAsciiCase(argument, entry.name)) options.type = entry.type;
      }
      if (!options.type) return UsageError("unsupported type '" + argument + "'");
    } else if (id == "d") {
      options.data = argument;
    } else if (id == "f") {
      options.force = true;
    }
  }
  const auto count = [&](const char* id) {
    int n = 0;
    for (const std::string& earlier : seen) n += earlier == id ? 1 : 0;
    return n;
  };
  if (count("v") + count("ve") + count("va") > 1) return UsageError("choose one of /v, /ve and /va");
  if (options.allValues && options.operation != Operation::kDelete) return UsageError("/va belongs to delete");
  const bool addOnly = options.type || options.data || options.separator;
  if (addOnly && options.operation != Operation::kAdd) return UsageError("/t, /d and the separator belong to add");
  if (options.force && options.operation == Operation::kQuery) return UsageError("/f belongs to add and delete");
  if (options.operation == Operation::kAdd && !options.valueName && (options.type || options.data)) {
    return UsageError("/t and /d need /v NAME or /ve");
  }
  return 0;
}

// --- data ---------------------------------------------------------------------

std::string HexBytes(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

std::string WithoutTrailingNuls(std::string text) {
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

// How reg.exe shows data: numbers in hex, multi-strings joined by "\0",
// binary as hex digits.
std::string DataDisplay(DWORD type, const std::string& data) {
  char number[32];
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return WithoutTrailingNuls(data);
    case REG_MULTI_SZ: {
      std::string text = WithoutTrailingNuls(data);
      std::string shown;
      for (char c : text) {
        if (c == '\0') {
          shown += "\\0";
        } else {
          shown.push_back(c);
        }
      }
      return shown;
    }
    case REG_DWORD:
      if (data.size() == sizeof(DWORD)) {
        DWORD value = 0;
        std::memcpy(&value, data.data(), sizeof value);
        std::snprintf(number, sizeof number, "0x%" PRIx32, value);
        return number;
      }
      break;
    case REG_QWORD:
      if (data.size() == sizeof(ULONGLONG)) {
        ULONGLONG value = 0;
        std::memcpy(&value, data.data(), sizeof value);
        std::snprintf(number, sizeof number, "0x%" PRIx64, value);
        return number;
      }
      break;
    default:
      break;
  }
  return HexBytes(data);
}

std::optional<ULONGLONG> ParseNumber(const std::string& text, ULONGLONG maximum) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return std::nullopt;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || end == nullptr || *end != '\0' || value > maximum) return std::nullopt;
  return value;
}

// The bytes RegSetValueExA gets for /t and /d; nullopt (with a message) when
// the data does not fit the type.
std::optional<std::string> EncodeData(DWORD type, const std::string& text, const std::string& separator) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return text + std::string(1, '\0');
    case REG_MULTI_SZ: {
      std::string block;
      if (!text.empty()) {
        for (std::size_t start = 0;;) {
          const std::size_t at = text.find(separator, start);
          const std::string item = text.substr(start, at == std::string::npos ? std::string::npos : at - start);
          // An empty string would end the list early and hide the ones after it.
          if (item.empty()) {
            std::fprintf(stderr, "ERROR: REG_MULTI_SZ data cannot contain an empty string.\n");
            return std::nullopt;
          }
          block += item + std::string(1, '\0');
          if (at == std::string::npos) break;
          start = at + separator.size();
        }
      }
      return block + std::string(1, '\0');
    }
    case REG_DWORD: {
      const std::optional<ULONGLONG> value = ParseNumber(text.empty() ? "0" : text, 0xFFFFFFFFull);
      if (!value) break;
      const DWORD dword = static_cast<DWORD>(*value);
      return std::string(reinterpret_cast<const char*>(&dword), sizeof dword);
    }
    case REG_QWORD: {
      const std::optional<ULONGLONG> value = ParseNumber(text.empty() ? "0" : text, ~0ull);
      if (!value) break;
      const ULONGLONG qword = *value;
      return std::string(reinterpret_cast<const char*>(&qword), sizeof qword);
    }
    case REG_BINARY: {
      std::string bytes;
      for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const auto digit = [](char c) -> int {
          if (c >= '0' && c <= '9') return c - '0';
          if (c >= 'a' && c <= 'f') return c - 'a' + 10;
          if (c >= 'A' && c <= 'F') return c - 'A' + 10;
          return -1;
        };
        const int high = digit(text[i]);
        const int low = digit(text[i + 1]);
        if (high < 0 || low < 0) {
          bytes.clear();
          break;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
      }
      if (bytes.size() * 2 == text.size()) return bytes;
      // As reg.exe, bare hex digits: "0x11" is refused, not read as one byte.
      std::fprintf(stderr, "ERROR: '%s' is not valid data for REG_BINARY: give an even number of hex digits"
                   " without 0x, such as 0A1B.\n", text.c_str());
      return std::nullopt;
    }
    default:
      break;
  }
  std::fprintf(stderr, "ERROR: '%s' is not valid data for %s.\n", text.c_str(), TypeDisplayName(type).c_str());
  return std::nullopt;
}

// --- registry helpers -----------------------------------------------------------

// Closes the key when it goes out of scope.
class KeyHolder {
 public:
  KeyHolder() = default;
  ~KeyHolder() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;
  HKEY* Receive() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

struct Value {
  std::string name;
  DWORD type = 0;
  std::string data;
};

LONG ReadValues(HKEY key, std::vector<Value>& values) {
  values.clear();
  std::string name(1024, '\0');
  std::string data(4096, '\0');
  for (DWORD index = 0;;) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    const LONG rc = RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc == ERROR_MORE_DATA) {
      // Either buffer was short; grow both and ask again for the same index.
      name.resize(name.size() * 2);
      data.resize(std::max<std::size_t>(data.size() * 2, dataSize));
      continue;
    }
    if (rc != ERROR_SUCCESS) return rc;
    values.push_back(Value{name.substr(0, nameLength), type, data.substr(0, dataSize)});
    ++index;
  }
}

LONG ReadSubkeyNames(HKEY key, std::vector<std::string>& names) {
  names.clear();
  std::string name(1024, '\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const LONG rc = RegEnumKeyExA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    names.push_back(name.substr(0, length));
  }
}

void PrintValue(const Value& value) {
  std::printf("    %s    %s    %s\n", value.name.empty() ? "(Default)" : value.name.c_str(),
              TypeDisplayName(value.type).c_str(), DataDisplay(value.type, value.data).c_str());
}

// Asks a yes/no question on standard input; anything but yes is no.
bool Confirm(const std::string& question) {
  std::printf("%s (Yes/No)? ", question.c_str());
  std::fflush(stdout);
  char answer[32];
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) {
    std::printf("\n");
    return false;
  }
  std::string text(answer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return EqualsIgnoringAsciiCase(text, "y") || EqualsIgnoringAsciiCase(text, "yes");
}

int Cancelled() {
  std::fprintf(stderr, "The operation was cancelled.\n");
  return 1;
}

// --- operations -----------------------------------------------------------------

// Shows the key and, with /s, every key below it, parents before children in
// name order. Pending keys wait on an explicit stack (each opened by its path
// from the root), so a tree of any depth leaves the machine stack alone.
LONG QueryTree(const Options& options) {
  struct PendingKey {
    std::string subkey;
    std::string display;
  };
  std::vector<PendingKey> pending{{options.subkey, KeyDisplay(options)}};
  for (bool top = true; !pending.empty(); top = false) {
    const PendingKey current = std::move(pending.back());
    pending.pop_back();
    KeyHolder key;
    if (const LONG rc = RegOpenKeyExA(options.root, current.subkey.c_str(), 0, KEY_READ, key.Receive());
        rc != ERROR_SUCCESS) {
      // A subkey deleted while we list is simply no longer there.
      if (!top && rc == ERROR_FILE_NOT_FOUND) continue;
      return rc;
    }
    std::vector<Value> values;
    if (const LONG rc = ReadValues(key.Get(), values); rc != ERROR_SUCCESS) return rc;
    std::vector<std::string> subkeys;
    if (const LONG rc = ReadSubkeyNames(key.Get(), subkeys); rc != ERROR_SUCCESS) return rc;
    std::printf("\n%s\n", current.display.c_str());
    for (const Value& value : values) PrintValue(value);
    if (!options.recursive) {
      if (!subkeys.empty()) std::printf("\n");
      for (const std::string& name : subkeys) std::printf("%s\\%s\n", current.display.c_str(), name.c_str());
      return ERROR_SUCCESS;
    }
    for (auto name = subkeys.rbegin(); name != subkeys.rend(); ++name) {
      pending.push_back(PendingKey{current.subkey.empty() ? *name : current.subkey + "\\" + *name,
                                   current.display + "\\" + *name});
    }
  }
  return ERROR_SUCCESS;
}

int RunQuery(const Options& options) {
  if (!options.valueName) {
    const LONG rc = QueryTree(options);
    return rc == ERROR_SUCCESS ? 0 : Failure(rc);
  }
  KeyHolder key;
  if (const LONG rc = RegOpenKeyExA(options.root, options.subkey.c_str(), 0, KEY_READ, key.Receive());
      rc != ERROR_SUCCESS) {
    return Failure(rc);
  }
  DWORD type = 0;
  DWORD size = 0;
  if (const LONG rc = RegQueryValueExA(key.Get(), options.valueName->c_str(), nullptr, &type, nullptr, &size);
      rc != ERROR_SUCCESS) {
    return Failure(rc);
  }
  std::string data(size, '\0');
  if (const LONG rc = RegQueryValueExA(key.Get(), options.valueName->c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(data.data()), &size);
      rc != ERROR_SUCCESS) {
    return Failure(rc);
  }
  data.resize(size);
  std::printf("\n%s\n", KeyDisplay(options).c_str());
  PrintValue(Value{*options.valueName, type, data});
  return 0;
}

int RunAdd(const Options& options) {
  std::optional<std::string> bytes;
  const DWORD type = options.type.value_or(REG_SZ);
  if (options.valueName) {
    bytes = EncodeData(type, options.data.value_or(std::string()), options.separator.value_or("\\0"));
    if (!bytes) return 1;
  }
  KeyHolder key;
  if (const LONG rc = RegCreateKeyExA(options.root, options.subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr);
      rc != ERROR_SUCCESS) {
    return Failure(rc);
  }
  if (options.valueName) {
    DWORD existingSize = 0;
    const bool exists =
        RegQueryValueExA(key.Get(), options.valueName->c_str(), nullptr, nullptr, nullptr, &existingSize) ==
        ERROR_SUCCESS;
    const std::string shownName = options.valueName->empty() ? "(Default)" : *options.valueName;
    if (exists && !options.force && !Confirm("Value " + shownName + " exists, overwrite")) return Cancelled();
    if (const LONG rc = RegSetValueExA(key.Get(), options.valueName->c_str(), 0, type,
                                       reinterpret_cast<const BYTE*>(bytes->data()),
                                       static_cast<DWORD>(bytes->size()));
        rc != ERROR_SUCCESS) {
      return Failure(rc);
    }
  }
  std::printf("The operation completed successfully.\n");
  return 0;
}

int RunDelete(const Options& options) {
  const std::string display = KeyDisplay(options);
  if (!options.valueName && !options.allValues) {
    if (options.subkey.empty()) {
      std::fprintf(stderr, "ERROR: A root key cannot be deleted.\n");
      return 1;
    }
    KeyHolder probe;
    if (const LONG rc = RegOpenKeyExA(options.root, options.subkey.c_str(), 0, KEY_READ, probe.Receive());
        rc != ERROR_SUCCESS) {
      return Failure(rc);
    }
    if (!options.force && !Confirm("Permanently delete the registry key " + display)) return Cancelled();
    if (const LONG rc = RegDeleteTreeA(options.root, options.subkey.c_str()); rc != ERROR_SUCCESS) return Failure(rc);
    std::printf("The operation completed successfully.\n");
    return 0;
  }
  KeyHolder key;
  if (const LONG rc = RegOpenKeyExA(options.root, options.subkey.c_str(), 0, KEY_READ | KEY_SET_VALUE, key.Receive());
      rc != ERROR_SUCCESS) {
    return Failure(rc);
  }
  if (options.allValues) {
    if (!options.force && !Confirm("Delete all values under the registry key " + display)) return Cancelled();
    std::vector<Value> values;
    if (const LONG rc = ReadValues(key.Get(), values); rc != ERROR_SUCCESS) return Failure(rc);
    for (const Value& value : values) {
      const LONG rc = RegDeleteValueA(key.Get(), value.name.c_str());
      if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return Failure(rc);
    }
  } else {
    DWORD size = 0;
    if (const LONG rc = RegQueryValueExA(key.Get(), options.valueName->c_str(), nullptr, nullptr, nullptr, &size);
        rc != ERROR_SUCCESS) {
      return Failure(rc);
    }
    const std::string shownName = options.valueName->empty() ? "(Default)" : *options.valueName;
    if (!options.force && !Confirm("Delete the registry value " + shownName)) return Cancelled();
    if (const LONG rc = RegDeleteValueA(key.Get(), options.valueName->c_str()); rc != ERROR_SUCCESS) {
      return Failure(rc);
    }
  }
  std::printf("The operation completed successfully.\n");
  return 0;
}

}  // namespace

int RunRegVerb(const VerbArguments& args) {
  Options options;
  bool helpShown = false;
  if (const int rc = ParseOptions(args, options, helpShown); rc != 0 || helpShown) return rc;
  switch (options.operation) {
    case Operation::kQuery:
      return RunQuery(options);
    case Operation::kAdd:
      return RunAdd(options);
    case Operation::kDelete:
      return RunDelete(options);
  }
  return 2;
}

}  // namespace kestnet::host

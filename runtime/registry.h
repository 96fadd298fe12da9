// KestUtilsLib::Registry: typed access to the registry store.
//
// Stateless operations over (root key, sub-key path[, value name]): test for
// keys and values, read and write values of the five supported types with a
// check of the stored type, list sub-keys, create keys and delete whole trees.
// Each validates its arguments, logs what fails under "KestUtilsLib::Registry"
// and either returns false or throws one of the KestUtils registry exceptions:
//
//   - a null root or empty path (or, for SetBinaryKeyValFromString, an empty
//     value name): KestBase::InvalidParameterException;
//   - a path (or a setter's value name) of more than kMaxKeyPathLength
//     characters: KestUtils::RegKeyPathSizeException;
//   - a value of another type than the getter's: KestUtils::RegValueTypeMismatch;
//   - a key that cannot be opened, created or written:
//     RegOpenKeyException, RegCreateKeyException, RegSetValueException;
//   - a missing key or value, or a failed read: false.
//
// Every operation has a narrow form (the same name with the suffix A) that
// takes UTF-8 texts and behaves the same; lengths count characters in both.
// Keys opened are closed before returning or throwing. Concurrent callers need
// their own serialisation of related reads and writes (the store keeps each
// single call atomic).
#pragma once

#include <string>
#include <vector>

#include "platform/os/win_types.h"
#include "platform/registry/registry.h"

namespace KestUtilsLib {

class Registry {
 public:
  // The value types as GetValueRegType reports them.
  enum RegValueType : DWORD {
    REG_VALUE_TYPE_UNSUPPORTED = 0,
    REG_VALUE_TYPE_STRING = 1,         // REG_SZ
    REG_VALUE_TYPE_BINARY = 2,         // REG_BINARY
    REG_VALUE_TYPE_DWORD = 3,          // REG_DWORD
    REG_VALUE_TYPE_MULTI_STRING = 4,   // REG_MULTI_SZ
    REG_VALUE_TYPE_EXPAND_STRING = 5,  // REG_EXPAND_SZ
  };

  // The longest sub-key path (and setter value name) accepted, in characters.
  static constexpr int kMaxKeyPathLength = 254;

  // A key handle that is closed when this goes out of scope, on every path out.
  class OpenedKey {
   public:
    OpenedKey() = default;
    ~OpenedKey();
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    // For the call that opens the key; the handle must be empty.
    HKEY* Receive() { return &m_hKey; }
    HKEY Get() const { return m_hKey; }
    // Closes the key now, so that the object may receive another.
    void Reset();

   private:
    HKEY m_hKey = nullptr;
  };

  static bool DoesKeyExist(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath);
  static bool DoesValNameExist(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                               const std::wstring& p_cstrwValueName);
  static bool GetValueRegType(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                              const std::wstring& p_cstrwValueName, DWORD& p_dwType);
  // Reads a text value of a key the caller has open (any text type, unchecked).
  static bool GetKeyVal(HKEY p_hOpenKey, const std::wstring& p_cstrwValueName, std::wstring& p_cstrwValue);
  static bool GetDwordKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                             const std::wstring& p_cstrwValueName, DWORD& p_dwValue);
  static bool GetStringKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                              const std::wstring& p_cstrwValueName, std::wstring& p_cstrwValue);
  // The text as stored: environment references are not expanded.
  static bool GetExpandStringKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                                    const std::wstring& p_cstrwValueName, std::wstring& p_cstrwValue);
  static bool GetMultiStringKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                                   const std::wstring& p_cstrwValueName, std::vector<std::wstring>& p_vecValues);
  // Clears the list, then fills it in enumeration order; empty when the key
  // cannot be opened.
  static void GetSubKeyNames(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                             std::vector<std::wstring>& p_vecSubKeyNames);
  static bool SetKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath, const std::wstring& p_cstrwValueName,
                        const std::wstring& p_cstrwValue);
  static bool SetStringKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                              const std::wstring& p_cstrwValueName, const std::wstring& p_cstrwValue);
  static bool SetDwordKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                             const std::wstring& p_cstrwValueName, DWORD p_dwValue);
  // Texts may not be empty or hold a NUL: either would end the stored list early.
  static bool SetMultiStringKeyVal(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                                   const std::wstring& p_cstrwValueName, const std::vector<std::wstring>& p_vecValues);
  // Stores the text's UTF-16 code units and terminator as REG_BINARY
  // (2 x (length + 1) bytes; no bytes for an empty text).
  static bool SetBinaryKeyValFromString(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath,
                                        const std::wstring& p_cstrwValueName, const std::wstring& p_cstrwValue);
  static bool CreateKey(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath);
  // Deletes the key with everything below it, depth first.
  static bool DeleteKey(HKEY p_hKey, const std::wstring& p_cstrwSubKeyPath);
  static void ValidateKeyPathLength(const std::wstring& p_cstrwSubKeyPath);

  // The typed forms on a key the caller has open: one call of the store each,
  // where the path forms open the key (and walk to it) again for every step.
  // A null key or a value name holding a NUL throws InvalidParameterException;
  // a value of another type throws RegValueTypeMismatch; a missing value or a
  // failed read gives false; a failed write throws RegSetValueException.
  static bool GetDwordVal(HKEY p_hOpenKey, const std::wstring& p_cstrwValueName, DWORD& p_dwValue);
  static bool GetMultiStringVal(HKEY p_hOpenKey, const std::wstring& p_cstrwValueName,
                                std::vector<std::wstring>& p_vecValues);
  static bool SetDwordVal(HKEY p_hOpenKey, const std::wstring& p_cstrwValueName, DWORD p_dwValue);
  static bool SetMultiStringVal(HKEY p_hOpenKey, const std::wstring& p_cstrwValueName,
                                const std::vector<std::wstring>& p_vecValues);

  // Narrow (UTF-8) forms.
  static bool DoesKeyExistA(HKEY p_hKey, const std::string& p_strSubKeyPath);
  static bool DoesValNameExistA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName);
  static bool GetValueRegTypeA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName,
                               DWORD& p_dwType);
  static bool GetKeyValA(HKEY p_hOpenKey, const std::string& p_strValueName, std::string& p_strValue);
  static bool GetDwordKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName,
                              DWORD& p_dwValue);
  static bool GetStringKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName,
                               std::string& p_strValue);
  static bool GetExpandStringKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath,
                                     const std::string& p_strValueName, std::string& p_strValue);
  static bool GetMultiStringKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath,
                                    const std::string& p_strValueName, std::vector<std::string>& p_vecValues);
  static void GetSubKeyNamesA(HKEY p_hKey, const std::string& p_strSubKeyPath,
                              std::vector<std::string>& p_vecSubKeyNames);
  static bool SetKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName,
                         const std::string& p_strValue);
  static bool SetStringKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName,
                               const std::string& p_strValue);
  static bool SetDwordKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath, const std::string& p_strValueName,
                              DWORD p_dwValue);
  static bool SetMultiStringKeyValA(HKEY p_hKey, const std::string& p_strSubKeyPath,
                                    const std::string& p_strValueName, const std::vector<std::string>& p_vecValues);
  // Stores the narrow text's bytes and terminator (length + 1 bytes).
  static bool SetBinaryKeyValFromStringA(HKEY p_hKey, const std::string& p_strSubKeyPath,
                                         const std::string& p_strValueName, const std::string& p_strValue);
  static bool CreateKeyA(HKEY p_hKey, const std::string& p_strSubKeyPath);
  static bool DeleteKeyA(HKEY p_hKey, const std::string& p_strSubKeyPath);
  static void ValidateKeyPathLengthA(const std::string& p_strSubKeyPath);
};

}  // namespace KestUtilsLib

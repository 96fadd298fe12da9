// The site-trust policy KestSM decides from, kept in the registry store:
//
//   Software\Tolvar\Pelwick\Config\KestSM\TrustedContainers
//       one value per trusted container (the host program's file name,
//       "kestnet" for the kestnet host), REG_DWORD 1
//   Software\Tolvar\Pelwick\Config\KestSM\TrustedSites\<vendor id>
//       one value per trusted site "http[s]://host[:port]", REG_DWORD 1
//
// under HKEY_LOCAL_MACHINE (for every user) and HKEY_CURRENT_USER (for this
// user); an entry in either counts. Names compare without regard to case, as
// registry value names do. Edits go to the hive the caller names.
//
// These functions call the registry through its Win32 shapes only, so a
// server module that uses them binds to its host's registry store.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/registry/registry.h"

namespace kestnet::companions {

enum class TrustKind { Container, Site };

// The vendor id KestSM answers until a caller gives another.
inline constexpr const wchar_t* kDefaultVendorId = L"KestNetX";
// The container the kestnet host runs scripts in.
inline constexpr const wchar_t* kKestNetHostContainer = L"kestnet";

// The policy key of a kind ("...\\TrustedSites\\<vendor>" for sites).
std::wstring TrustPolicyKey(TrustKind kind, const std::wstring& vendorId);

// Adds or removes one entry in hive (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE).
// A site is stored in its origin form (SiteOrigin); a site that has none is
// refused with ERROR_INVALID_PARAMETER. Removing an entry that is not there
// gives ERROR_FILE_NOT_FOUND. storedEntry, when given, receives the form
// that was stored or looked for.
LSTATUS AddTrusted(HKEY hive, TrustKind kind, const std::wstring& vendorId, const std::wstring& entry,
                   std::wstring* storedEntry = nullptr);
LSTATUS RemoveTrusted(HKEY hive, TrustKind kind, const std::wstring& vendorId, const std::wstring& entry,
                      std::wstring* storedEntry = nullptr);
// The entries of one hive, in the store's order.
std::vector<std::wstring> ListTrusted(HKEY hive, TrustKind kind, const std::wstring& vendorId);

// Whether either hive lists the entry.
bool IsListed(TrustKind kind, const std::wstring& vendorId, const std::wstring& entry);

// "scheme://host[:port]" of an http or https URL as a browser reads it
// (automation/url_parser.h): host in ASCII lower case, user information,
// path, query and the scheme's default port left out. nullopt for every
// other URL: a file: page has no site of its own, and "file://" would stand
// for every local file.
std::optional<std::wstring> SiteOrigin(const std::wstring& url);

// Whether name is one of the ';'-separated names of list (case-insensitive,
// white space around names ignored).
bool ListNamesContainer(const std::wstring& list, const std::wstring& name);

// The file name of the running program, the container a script host is.
std::wstring CurrentContainerName();

}  // namespace kestnet::companions

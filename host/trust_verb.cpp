// kestnet trust: edits the site-trust policy KestSM decides from.
//
//   kestnet trust add    container NAME [--machine]
//   kestnet trust add    site URL [--vendor ID] [--machine]
//   kestnet trust remove container NAME [--machine]
//   kestnet trust remove site URL [--vendor ID] [--machine]
//   kestnet trust list   [--vendor ID]
#include <cstdio>
#include <cstring>
#include <string>

#include "companions/kestsm/trust_policy.h"
#include "host/verbs.h"
#include "platform/os/utf8.h"

namespace kestnet::host {
namespace {

using kestnet::companions::TrustKind;

constexpr const char* kUsage =
    "usage: kestnet trust add    container NAME [--machine]\n"
    "       kestnet trust add    site URL [--vendor ID] [--machine]\n"
    "       kestnet trust remove container NAME [--machine]\n"
    "       kestnet trust remove site URL [--vendor ID] [--machine]\n"
    "       kestnet trust list   [--vendor ID]\n"
    "\n"
    "A container is the file name of the program that hosts the objects\n"
    "(\"kestnet\" for this host, listed when KestSM is registered). A site is\n"
    "an http or https URL, stored as its origin, scheme://host[:port], read as\n"
    "a browser reads it, for one vendor id (default KestNetX). Entries go to\n"
    "the current user's policy, or with --machine to every user's; an entry in\n"
    "either counts.\n";

struct KindName {
  const char* name;
  TrustKind kind;
};
constexpr KindName kKinds[] = {{"container", TrustKind::Container}, {"site", TrustKind::Site}};

struct HiveName {
  const char* name;
  HKEY hive;
};
const HiveName kHives[] = {{"machine", HKEY_LOCAL_MACHINE}, {"user", HKEY_CURRENT_USER}};

int Usage(const std::string& problem) {
  std::fprintf(stderr, "kestnet trust: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

struct Options {
  std::wstring vendor = kestnet::companions::kDefaultVendorId;
  HKEY hive = HKEY_CURRENT_USER;
  std::vector<std::string> positional;
};

// Empty when parsed, else what is wrong.
std::string ParseOptions(const VerbArguments& args, size_t first, Options* options) {
  for (size_t i = first; i < args.size(); ++i) {
    if (args[i] == "--machine") {
      options->hive = HKEY_LOCAL_MACHINE;
    } else if (args[i] == "--vendor") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return "--vendor needs an id";
      options->vendor = kestnet::platform::WideFromUtf8(args[++i]);
    } else if (args[i].rfind("--", 0) == 0) {
      return "unknown option '" + args[i] + "'";
    } else {
      options->positional.push_back(args[i]);
    }
  }
  return {};
}

const char* DescribeStatus(LSTATUS status) {
  switch (status) {
    case ERROR_FILE_NOT_FOUND:
      return "no such entry";
    case ERROR_INVALID_PARAMETER:
      return "not a container name or an http or https URL";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    default:
      return "the registry store refused the change";
  }
}

int List(const Options& options) {
  for (const HiveName& hive : kHives) {
    for (const std::wstring& entry : companions::ListTrusted(hive.hive, TrustKind::Container, L"")) {
      std::printf("container  %-7s  %s\n", hive.name, kestnet::platform::Utf8FromWide(entry).c_str());
    }
  }
  for (const HiveName& hive : kHives) {
    for (const std::wstring& entry : companions::ListTrusted(hive.hive, TrustKind::Site, options.vendor)) {
      std::printf("site       %-7s  %s  (vendor %s)\n", hive.name, kestnet::platform::Utf8FromWide(entry).c_str(),
                  kestnet::platform::Utf8FromWide(options.vendor).c_str());
    }
  }
  return 0;
}

}  // namespace

int RunTrustVerb(const VerbArguments& args) {
  if (args.empty()) return Usage("missing operation (add, remove or list)");
  if (args[0] == "-h" || args[0] == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  Options options;
  if (const std::string problem = ParseOptions(args, 1, &options); !problem.empty()) return Usage(problem);
  if (args[0] == "list") return options.positional.empty() ? List(options) : Usage("list takes no entry");

  const bool adding = args[0] == "add";
  if (!adding && args[0] != "remove") return Usage("unknown operation '" + args[0] + "'");
  if (options.positional.size() != 2) return Usage(args[0] + " needs a kind (container or site) and an entry");
  const KindName* kind = nullptr;
  for (const KindName& candidate : kKinds) {
    if (options.positional[0] == candidate.name) kind = &candidate;
  }
  if (kind == nullptr) return Usage("unknown kind '" + options.positional[0] + "' (container or site)");
  const std::wstring entry = kestnet::platform::WideFromUtf8(options.positional[1]);
  const std::wstring vendor = kind->kind == TrustKind::Site ? options.vendor : std::wstring();
  std::wstring stored;
  LSTATUS status = adding ? companions::AddTrusted(options.hive, kind->kind, vendor, entry, &stored)
                          : companions::RemoveTrusted(options.hive, kind->kind, vendor, entry, &stored);
  if (status != ERROR_SUCCESS) {
    std::fprintf(stderr, "kestnet trust: %s %s '%s': %s\n", adding ? "cannot add" : "cannot remove", kind->name,
                 options.positional[1].c_str(), DescribeStatus(status));
    return 1;
  }
  // What was stored may differ from what was typed: say which entry it is.
  const char* hive = options.hive == HKEY_LOCAL_MACHINE ? "machine" : "user";
  std::string text = kestnet::platform::Utf8FromWide(stored);
  if (kind->kind == TrustKind::Site) {
    std::printf("%s site %s (vendor %s, %s)\n", adding ? "added" : "removed", text.c_str(),
                kestnet::platform::Utf8FromWide(vendor).c_str(), hive);
  } else {
    std::printf("%s container %s (%s)\n", adding ? "added" : "removed", text.c_str(), hive);
  }
  return 0;
}

}  // namespace kestnet::host

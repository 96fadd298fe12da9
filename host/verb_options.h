// Command-line reading shared by the verbs that drive the network objects:
// "--name VALUE" options, each known to the verb, and positional arguments.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/verbs.h"

namespace kestnet::host {

struct KnownOption {
  const char* name;     // "--ttl"
  bool repeatable;      // may be given more than once (all values kept, in order)
  bool isFlag = false;  // takes no value: present means on (kept as one empty value)
};

struct ParsedVerbArguments {
  bool help = false;
  std::map<std::string, std::vector<std::string>> options;  // by option name
  std::vector<std::string> positional;
};

// Reads `args` against `knownOptions`. Returns nothing, with `error` set, for an
// unknown option, an option without its value, or a repeated single option.
// "--" ends the options; "-h"/"--help" sets help.
std::optional<ParsedVerbArguments> ParseVerbArguments(const VerbArguments& args, std::span<const KnownOption> knownOptions,
                                                      std::string& error);

// Whether a flag (or any option) was given.
bool HasOption(const ParsedVerbArguments& parsed, const char* name);
// The (first) value of an option, `fallback` when absent.
std::string OptionValue(const ParsedVerbArguments& parsed, const char* name, const std::string& fallback = {});

// The value of an integer option, `fallback` when absent. Returns false with
// `error` set when the text is not a whole decimal number within a 32-bit
// signed value; the range the objects accept is theirs to check.
bool IntegerOption(const ParsedVerbArguments& parsed, const char* name, long fallback, long& value,
                   std::string& error);

// True when `text` is a whole decimal number within a 32-bit signed value.
bool ParseWholeNumber(const std::string& text, long& value);

// Prints "kestnet VERB: message" and the usage text to standard error;
// returns the bad-usage exit code.
int ReportBadUsage(const char* verb, const std::string& message, const char* usage);

}  // namespace kestnet::host

#include "host/verb_options.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace kestnet::host {

std::optional<ParsedVerbArguments> ParseVerbArguments(const VerbArguments& args, std::span<const KnownOption> knownOptions,
                                                      std::string& error) {
  ParsedVerbArguments parsed;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // "-1" is a (negative) number, not an option.
    bool isNumber = arg.size() >= 2 && arg[0] == '-' && arg[1] >= '0' && arg[1] <= '9';
    if (optionsEnded || arg.size() < 2 || arg[0] != '-' || isNumber) {
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      parsed.help = true;
      continue;
    }
    const KnownOption* known = nullptr;
    for (const KnownOption& candidate : knownOptions) {
      if (arg == candidate.name) known = &candidate;
    }
    if (known == nullptr) {
      error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
    if (!known->isFlag && i + 1 >= args.size()) {
      error = arg + " needs a value";
      return std::nullopt;
    }
    std::vector<std::string>& values = parsed.options[arg];
    if (!values.empty() && !known->repeatable) {
      error = arg + " given twice";
      return std::nullopt;
    }
    values.push_back(known->isFlag ? std::string() : args[++i]);
  }
  return parsed;
}

bool HasOption(const ParsedVerbArguments& parsed, const char* name) { return parsed.options.contains(name); }

std::string OptionValue(const ParsedVerbArguments& parsed, const char* name, const std::string& fallback) {
  auto found = parsed.options.find(name);
  return found == parsed.options.end() ? fallback : found->second.front();
}

bool IntegerOption(const ParsedVerbArguments& parsed, const char* name, long fallback, long& value,
                   std::string& error) {
  auto found = parsed.options.find(name);
  if (found == parsed.options.end()) {
    value = fallback;
    return true;
  }
  const std::string& text = found->second.front();
  if (!ParseWholeNumber(text, value)) {
    error = std::string(name) + " needs a whole number, not '" + text + "'";
    return false;
  }
  return true;
}

bool ParseWholeNumber(const std::string& text, long& value) {
  char* end = nullptr;
  errno = 0;
  long long number = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || number < INT32_MIN || number > INT32_MAX) return false;
  value = static_cast<long>(number);
  return true;
}

int ReportBadUsage(const char* verb, const std::string& message, const char* usage) {
  std::fprintf(stderr, "kestnet %s: %s\n", verb, message.c_str());
  std::fputs(usage, stderr);
  return 2;
}

}  // namespace kestnet::host

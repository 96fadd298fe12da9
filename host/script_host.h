// The script host behind `kestnet run`: JavaScript (duktape) with the Windows
// Script Host conventions, driving automation objects only through
// GetIDsOfNames/Invoke and hearing their events through an advised sink.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace kestnet::host {

// A function a verb lends the script it runs, reachable as Host.<name>(...).
// It receives every argument as UTF-8 text and fills `result`: the text the
// script gets back when it returns true, the error raised in the script
// when it returns false.
struct HostFunction {
  std::string name;
  std::function<bool(const std::vector<std::string>& arguments, std::string& result)> call;
};

struct ScriptOptions {
  std::string scriptPath;              // as the user named it; used in messages
  std::string source;                  // non-empty: the program itself, not read from scriptPath
  std::vector<std::string> arguments;  // WScript.Arguments
  std::string siteUrl;                 // non-empty: every created object gets a site at this location
  std::vector<HostFunction> hostFunctions;  // non-empty: a global Host object carries them
  bool hostObject = false;                   // a global Host object even without hostFunctions
};

// Runs one script on the calling thread, which must have entered a
// single-threaded apartment. Output of WScript.Echo goes to `out`, script
// errors ("file(line): description") to `err`. Returns the exit code: the
// value given to WScript.Quit, 0 when the script ends normally, 1 after a
// script error or when the script cannot be read or compiled.
int RunScript(const ScriptOptions& options, std::FILE* out, std::FILE* err);

}  // namespace kestnet::host

// Runs the kestnet command as a separate process with a private
// KESTNET_HOME, and gives back what it printed and how it ended.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temporary_directory.h"

namespace kestnet::host::testing {

struct ProcessResult {
  int exitCode = -1;  // the exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

// The kestnet program and the test modules, built with the tests.
std::string KestnetProgram();
std::string ComTestServerModule();
std::string TickerServerModule();

// Each test gets a fresh KESTNET_HOME (so a new registry store and private
// named objects) and a folder for its scripts.
class KestnetTest : public ::testing::Test {
 protected:
  ProcessResult Kestnet(const std::vector<std::string>& arguments);
  // Writes `source` to a script file in the test's folder; returns its path.
  std::string WriteScript(const std::string& name, const std::string& source);
  // Runs `kestnet run` of a script written from `source`.
  ProcessResult RunScript(const std::string& source, const std::vector<std::string>& options = {},
                          const std::vector<std::string>& scriptArguments = {});
  void Register(const std::string& module);

  kestnet::testing::TemporaryHome temporaryHome_;
  kestnet::testing::TemporaryDirectory scriptFolder_{"kestnet-scripts"};
  const std::filesystem::path home_ = temporaryHome_.Path();
  const std::filesystem::path scripts_ = scriptFolder_.Path();
  // When set, kestnet runs behind this command (e.g. setpriv into another account).
  std::vector<std::string> runAs_;
};

}  // namespace kestnet::host::testing

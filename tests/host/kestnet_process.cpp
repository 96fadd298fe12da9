#include "tests/host/kestnet_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

extern char** environ;

namespace kestnet::host::testing {
namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

std::string KestnetProgram() { return KESTNET_PROGRAM; }
std::string ComTestServerModule() { return KESTNET_COM_TEST_SERVER; }
std::string TickerServerModule() { return KESTNET_TICKER_SERVER; }


ProcessResult KestnetTest::Kestnet(const std::vector<std::string>& arguments) {
  ProcessResult result;
  std::filesystem::path outPath = scripts_ / "stdout.txt";
  std::filesystem::path errPath = scripts_ / "stderr.txt";
  std::vector<std::string> all = runAs_;
  all.push_back(KestnetProgram());
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t child = -1;
  int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(spawned, 0) << "cannot start " << argv[0];
  if (spawned != 0) return result;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = ReadAll(outPath);
  result.err = ReadAll(errPath);
  return result;
}

std::string KestnetTest::WriteScript(const std::string& name, const std::string& source) {
  std::filesystem::path path = scripts_ / name;
  std::ofstream(path, std::ios::binary) << source;
  return path.string();
}

ProcessResult KestnetTest::RunScript(const std::string& source, const std::vector<std::string>& options,
                                     const std::vector<std::string>& scriptArguments) {
  std::vector<std::string> arguments = {"run"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.push_back(WriteScript("script.js", source));
  arguments.insert(arguments.end(), scriptArguments.begin(), scriptArguments.end());
  return Kestnet(arguments);
}

void KestnetTest::Register(const std::string& module) {
  ProcessResult registered = Kestnet({"regsvr", module});
  ASSERT_EQ(registered.exitCode, 0) << registered.err;
}

}  // namespace kestnet::host::testing

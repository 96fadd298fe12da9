// The verbs of the `kestnet` command. Each verb lives in its own source file
// and receives the arguments that follow its name.
#pragma once

#include <string>
#include <vector>

namespace kestnet::host {

using VerbArguments = std::vector<std::string>;

// Each returns the process exit code: 0 on success, 1 when the work failed,
// 2 for bad usage (with a message on standard error).
int RunLogVerb(const VerbArguments& args);
int RunRegVerb(const VerbArguments& args);
int RunRunVerb(const VerbArguments& args);
int RunRegsvrVerb(const VerbArguments& args);
int RunSetupVerb(const VerbArguments& args);
int RunTrustVerb(const VerbArguments& args);
int RunPingVerb(const VerbArguments& args);
int RunResolveVerb(const VerbArguments& args);
int RunTcptestVerb(const VerbArguments& args);
int RunPop3Verb(const VerbArguments& args);
int RunSendmailVerb(const VerbArguments& args);
int RunNetVerb(const VerbArguments& args);

}  // namespace kestnet::host

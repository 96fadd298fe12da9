// kestnet: the command a user runs to drive KestNetX.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/verbs.h"

namespace {

using kestnet::host::VerbArguments;

struct Verb {
  const char* name;
  int (*run)(const VerbArguments&);
  const char* summary;
};

constexpr Verb kVerbs[] = {
    {"log", kestnet::host::RunLogVerb, "show (and follow) the shared log ring of every process"},
    {"reg", kestnet::host::RunRegVerb, "query, add or delete keys and values of the registry store"},
    {"run", kestnet::host::RunRunVerb, "run a JavaScript file with the Windows Script Host conventions"},
    {"regsvr", kestnet::host::RunRegsvrVerb, "register or unregister a server module"},
    {"setup", kestnet::host::RunSetupVerb, "register the project's own modules"},
    {"trust", kestnet::host::RunTrustVerb, "list, add or remove trusted containers and sites of KestSM"},
    {"ping", kestnet::host::RunPingVerb, "send an ICMP echo request through the KestNetPing object"},
    {"resolve", kestnet::host::RunResolveVerb, "resolve host names through the KestNetDNS object"},
    {"tcptest", kestnet::host::RunTcptestVerb, "test a TCP port through the KestNetTcpClientSocket object"},
    {"pop3", kestnet::host::RunPop3Verb, "count, list, retrieve or delete mail through the KestNetPOP3 object"},
    {"sendmail", kestnet::host::RunSendmailVerb, "send a message through the KestNetSMTP object"},
    {"net", kestnet::host::RunNetVerb, "browse the Windows network and look hosts up through KestNetWindowsNetwork"},
};

void PrintUsage(std::FILE* out) {
  std::fprintf(out, "usage: kestnet VERB [ARGUMENTS]\n\nverbs:\n");
  for (const Verb& verb : kVerbs) std::fprintf(out, "  %-8s %s\n", verb.name, verb.summary);
  std::fprintf(out, "\n'kestnet VERB --help' describes one verb.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  for (const Verb& verb : kVerbs) {
    if (std::strcmp(argv[1], verb.name) == 0) {
      return verb.run(VerbArguments(argv + 2, argv + argc));
    }
  }
  std::fprintf(stderr, "kestnet: unknown verb '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}

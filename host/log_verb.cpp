#include <cstdio>

#include "host/verbs.h"

namespace kestnet::host {

int RunLogVerb(const VerbArguments&) {
  std::fprintf(stderr, "kestnet log: not available in this build\n");
  return 1;
}

}  // namespace kestnet::host

#include <cstdio>

#include "host/verbs.h"

namespace kestnet::host {

int RunRegVerb(const VerbArguments&) {
  std::fprintf(stderr, "kestnet reg: not available in this build\n");
  return 1;
}

}  // namespace kestnet::host

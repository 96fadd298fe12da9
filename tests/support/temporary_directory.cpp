#include "tests/support/temporary_directory.h"

#include <stdlib.h>

#include "platform/os/home.h"
#include "platform/sync/named_objects.h"

namespace kestnet::testing {

TemporaryDirectory::TemporaryDirectory(const std::string& p_prefix) {
  std::error_code error;
  std::string pattern = (std::filesystem::temp_directory_path(error) / (p_prefix + "-XXXXXX")).string();
  if (!error && mkdtemp(pattern.data()) != nullptr) {
    m_path = pattern;
  }
}

TemporaryDirectory::~TemporaryDirectory() {
  if (!m_path.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
}

TemporaryHome::TemporaryHome() : m_directory("kestnet-home") {
  if (const char* previous = getenv("KESTNET_HOME")) {
    m_bHadPrevious = true;
    m_previous = previous;
  }
  setenv("KESTNET_HOME", m_directory.Path().c_str(), 1);
  m_scope = kestnet::platform::NamedObjectScope();
}

TemporaryHome::~TemporaryHome() {
  kestnet::platform::RemoveNamedObjects(m_scope);
  if (m_bHadPrevious) {
    setenv("KESTNET_HOME", m_previous.c_str(), 1);
  } else {
    unsetenv("KESTNET_HOME");
  }
}

}  // namespace kestnet::testing

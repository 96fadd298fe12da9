// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes; and the KESTNET_HOME that tests point
// at one, so they never touch the user's data nor share named objects.
#pragma once

#include <filesystem>
#include <string>

namespace kestnet::testing {

class TemporaryDirectory {
 public:
  // p_prefix names the directory ("kestnet-dns-XXXXXX"); Path() is empty when
  // it could not be made.
  explicit TemporaryDirectory(const std::string& p_prefix);
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

// Sets KESTNET_HOME to a fresh directory for its lifetime, so the test has
// registry hives, files and named objects of its own; afterwards removes the
// named objects of that scope and restores the previous value.
class TemporaryHome {
 public:
  TemporaryHome();
  ~TemporaryHome();
  TemporaryHome(const TemporaryHome&) = delete;
  TemporaryHome& operator=(const TemporaryHome&) = delete;

  const std::filesystem::path& Path() const { return m_directory.Path(); }
  // The named-object scope of the home.
  const std::string& Scope() const { return m_scope; }

 private:
  TemporaryDirectory m_directory;
  std::string m_scope;
  bool m_bHadPrevious = false;
  std::string m_previous;
};

}  // namespace kestnet::testing

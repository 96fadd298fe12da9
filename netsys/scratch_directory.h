// A private folder under the temporary folder for the files an operation
// makes and removes again; the folder and every file made in it through
// MakeEmptyFile are removed when the object goes, whatever happened.
#pragma once

#include <string>
#include <vector>

namespace KestSys {

class ScratchDirectory {
 public:
  // Throws Win32ErrorException (the last error set) when the folder cannot
  // be made.
  ScratchDirectory();
  ~ScratchDirectory();

  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // An empty file named by GetTempFileName with p_szPrefix; its full path.
  // Throws Win32ErrorException when it cannot be made.
  std::string MakeEmptyFile(const char* p_szPrefix);

 private:
  std::string m_strPath;
  std::vector<std::string> m_files;
};

}  // namespace KestSys

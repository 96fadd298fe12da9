#include "netsys/scratch_directory.h"

#include <array>

#include "platform/smb/file_calls.h"
#include "runtime/exceptions.h"
#include "runtime/mt_log.h"

namespace KestSys {
namespace {

[[noreturn]] void ThrowLastError(int p_nLine) {
  throw KestBase::Win32ErrorException(KestMT::SourceFileName(__FILE__), static_cast<ULONG>(p_nLine));
}

}  // namespace

ScratchDirectory::ScratchDirectory() {
  std::array<char, MAX_PATH + 1> tempPath{};
  const DWORD dwLength = GetTempPathA(static_cast<DWORD>(tempPath.size()), tempPath.data());
  if (dwLength == 0 || dwLength >= tempPath.size()) ThrowLastError(__LINE__);
  // A unique name is had the way GetTempFileName has it: the file is made,
  // then taken away and a folder made in its place.
  std::array<char, MAX_PATH + 1> name{};
  if (GetTempFileNameA(tempPath.data(), "ksd", 0, name.data()) == 0) ThrowLastError(__LINE__);
  DeleteFileA(name.data());
  if (!CreateDirectoryA(name.data(), nullptr)) ThrowLastError(__LINE__);
  m_strPath = name.data();
}

ScratchDirectory::~ScratchDirectory() {
  for (const std::string& file : m_files) {
    DeleteFileA(file.c_str());
  }
  RemoveDirectoryA(m_strPath.c_str());
}

std::string ScratchDirectory::MakeEmptyFile(const char* p_szPrefix) {
  std::array<char, MAX_PATH + 1> name{};
  if (GetTempFileNameA(m_strPath.c_str(), p_szPrefix, 0, name.data()) == 0) ThrowLastError(__LINE__);
  m_files.emplace_back(name.data());
  return m_files.back();
}

}  // namespace KestSys

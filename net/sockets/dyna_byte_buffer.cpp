#include "net/sockets/dyna_byte_buffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace KestNet {
namespace {

// Below this many consumed bytes compaction is not worth a move.
constexpr std::size_t kCompactThreshold = 4096;

}  // namespace

DynaByteBuffer::~DynaByteBuffer() = default;

DWORD DynaByteBuffer::GetSize() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return static_cast<DWORD>(SizeLocked());
}

bool DynaByteBuffer::GetData(BYTE* p_pOut, DWORD p_dwCount, bool p_bRemove) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (p_pOut == nullptr || p_dwCount == 0 || p_dwCount > SizeLocked()) {
    return false;
  }
  std::memcpy(p_pOut, m_data.data() + m_start, p_dwCount);
  if (p_bRemove) {
    RemoveLocked(p_dwCount);
  }
  return true;
}

bool DynaByteBuffer::Append(const BYTE* p_pData, DWORD p_dwCount) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (p_pData == nullptr || p_dwCount == 0) {
    return false;
  }
  if (SizeLocked() + p_dwCount >= std::numeric_limits<DWORD>::max()) {
    return false;
  }
  m_data.insert(m_data.end(), p_pData, p_pData + p_dwCount);
  return true;
}

bool DynaByteBuffer::Remove(DWORD p_dwCount) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (p_dwCount == 0 || p_dwCount > SizeLocked()) {
    return false;
  }
  RemoveLocked(p_dwCount);
  return true;
}

DWORD DynaByteBuffer::Find(BYTE p_byValue) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  return FindLocked(p_byValue);
}

DWORD DynaByteBuffer::FindLocked(BYTE p_byValue) const {
  const auto begin = m_data.begin() + static_cast<std::ptrdiff_t>(m_start);
  const auto found = std::find(begin, m_data.end(), p_byValue);
  if (found == m_data.end()) {
    return kNotFound;
  }
  return static_cast<DWORD>(found - begin);
}

bool DynaByteBuffer::ReadToDelimiter(BYTE p_byDelimiter, BYTE* p_pOut, DWORD p_dwCapacity,
                                     DWORD* p_pdwLength, bool p_bIncludeDelimiter,
                                     bool p_bRemove, bool p_bRemoveDelimiter) {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  if (p_pOut == nullptr || p_dwCapacity == 0) {
    return false;
  }
  const DWORD index = FindLocked(p_byDelimiter);
  if (index == kNotFound) {
    return false;
  }
  const std::size_t length = static_cast<std::size_t>(index) + (p_bIncludeDelimiter ? 1 : 0);
  if (length >= p_dwCapacity) {
    return false;
  }
  if (length > 0) {
    std::memcpy(p_pOut, m_data.data() + m_start, length);
  }
  if (p_pdwLength != nullptr) {
    *p_pdwLength = static_cast<DWORD>(length);
  }
  if (p_bRemove) {
    const bool dropDelimiter = !p_bIncludeDelimiter && p_bRemoveDelimiter;
    RemoveLocked(length + (dropDelimiter ? 1 : 0));
  }
  return true;
}

bool DynaByteBuffer::TakeLine(std::string& p_strOut, DWORD& p_dwHeld) {
  constexpr BYTE kLineFeed = 10;
  constexpr BYTE kCarriageReturn = 13;
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  const std::size_t held = SizeLocked();
  p_dwHeld = static_cast<DWORD>(held);
  const DWORD index = FindLocked(kLineFeed);
  if (index == kNotFound) {
    return false;
  }
  const auto begin = m_data.begin() + static_cast<std::ptrdiff_t>(m_start);
  const bool endsWithCarriageReturn = index > 0 && begin[index - 1] == kCarriageReturn;
  p_strOut.assign(begin, begin + index - (endsWithCarriageReturn ? 1 : 0));
  std::size_t taken = static_cast<std::size_t>(index) + 1;
  if (!endsWithCarriageReturn && taken < held && begin[static_cast<std::ptrdiff_t>(taken)] == kCarriageReturn) {
    ++taken;
  }
  RemoveLocked(taken);
  return true;
}

void DynaByteBuffer::Clear() {
  KestMT::AutoLockMutex lock(&m_mutex, INFINITE);
  m_data.clear();
  m_start = 0;
}

void DynaByteBuffer::RemoveLocked(std::size_t p_count) {
  m_start += p_count;
  if (m_start >= m_data.size()) {
    m_data.clear();
    m_start = 0;
  } else if (m_start >= kCompactThreshold && m_start * 2 >= m_data.size()) {
    m_data.erase(m_data.begin(), m_data.begin() + static_cast<std::ptrdiff_t>(m_start));
    m_start = 0;
  }
}

}  // namespace KestNet

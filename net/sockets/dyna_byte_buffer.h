// KestNet::DynaByteBuffer: a growable byte queue, appended at the back and
// consumed from the front, safe to share between threads.
//
// Consumed bytes are skipped by moving a start index; the storage is compacted
// only when the consumed part outweighs what is left, so taking bytes from the
// front costs nothing per byte however large the buffer grows.
//
// Every operation takes the buffer's own recursive mutex and may throw what
// KestMT::AutoLockMutex throws when that mutex cannot be created.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/os/win_types.h"
#include "runtime/mutex.h"

namespace KestNet {

class DynaByteBuffer {
 public:
  static constexpr DWORD kNotFound = 0xFFFFFFFFu;

  DynaByteBuffer() = default;
  DynaByteBuffer(const DynaByteBuffer&) = delete;
  DynaByteBuffer& operator=(const DynaByteBuffer&) = delete;
  virtual ~DynaByteBuffer();

  virtual DWORD GetSize();
  // Copies the first p_dwCount bytes (1 to size) into p_pOut and, with
  // p_bRemove, removes them. False (nothing copied) for a null p_pOut or a
  // count outside 1 to size.
  virtual bool GetData(BYTE* p_pOut, DWORD p_dwCount, bool p_bRemove);
  // Appends p_dwCount bytes. False for null data, a zero count, or a size
  // that would no longer fit in 32 bits.
  virtual bool Append(const BYTE* p_pData, DWORD p_dwCount);
  // Removes the first p_dwCount bytes (1 to size).
  virtual bool Remove(DWORD p_dwCount);
  // Index of the first byte equal to p_byValue, or kNotFound.
  virtual DWORD Find(BYTE p_byValue);
  // Copies the bytes before the first p_byDelimiter (and the delimiter too
  // with p_bIncludeDelimiter) into p_pOut and stores their count in
  // *p_pdwLength. Fails, changing nothing, when p_pOut is null or
  // p_dwCapacity 0, when the delimiter is not held, or when the count is not
  // smaller than p_dwCapacity (room stays for a terminating NUL). With
  // p_bRemove the copied bytes are removed; with p_bRemoveDelimiter a
  // delimiter that was not copied is removed as well.
  virtual bool ReadToDelimiter(BYTE p_byDelimiter, BYTE* p_pOut, DWORD p_dwCapacity,
                               DWORD* p_pdwLength, bool p_bIncludeDelimiter, bool p_bRemove,
                               bool p_bRemoveDelimiter);
  // Takes one text line under one acquisition of the mutex. p_dwHeld
  // receives the count of bytes held. False, changing nothing, when no LF is
  // held. Otherwise the bytes before the first LF go to p_strOut (its storage
  // reused) and are removed with the LF; a CR that ends them is left out of
  // p_strOut, and when there is none, a CR right after the LF is removed too
  // (a line may end LF CR).
  virtual bool TakeLine(std::string& p_strOut, DWORD& p_dwHeld);
  virtual void Clear();

 private:
  // Index of the first byte equal to p_byValue, or kNotFound; m_mutex held.
  DWORD FindLocked(BYTE p_byValue) const;
  // Drops the first p_count held bytes; m_mutex held.
  void RemoveLocked(std::size_t p_count);
  std::size_t SizeLocked() const { return m_data.size() - m_start; }

  KestMT::Mutex m_mutex;
  std::vector<BYTE> m_data;
  std::size_t m_start = 0;  // index of the first held byte in m_data
};

}  // namespace KestNet

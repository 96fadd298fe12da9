#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/os/shared_mapping_guard.h"
#include "platform/shm/file_mapping.h"
#include "platform/sync/event.h"
#include "platform/sync/named_objects.h"
#include "tests/platform/sync/isolated_home.h"

namespace kestnet::testing {
namespace {

using FileMappingTest = IsolatedHome;

TEST_F(FileMappingTest, SecondCreatorGetsTheFirstCreatorsSectionAndSize) {
  constexpr DWORD kCreatorSize = 8192;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"mapping ready");
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, L"mapping done");
  pid_t child = StartChild([] {
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kCreatorSize,
                                       L"KestLogger::Logger::Mapping::3.0");
    if (mapping == nullptr || GetLastError() != ERROR_SUCCESS) return 1;
    auto* view = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (view == nullptr) return 2;
    std::memset(view, 0xA5, kCreatorSize);
    SetEvent(OpenEventW(EVENT_ALL_ACCESS, FALSE, L"mapping ready"));
    WaitForSingleObject(OpenEventW(EVENT_ALL_ACCESS, FALSE, L"mapping done"), 10000);
    return view[0] == 0x5A ? 0 : 3;  // what the other process wrote
  });
  ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100000,
                                     L"KestLogger::Logger::Mapping::3.0");
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kCreatorSize + 1), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  auto* view = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0], 0xA5);
  EXPECT_EQ(view[kCreatorSize - 1], 0xA5);
  view[0] = 0x5A;
  SetEvent(done);
  EXPECT_EQ(WaitForChild(child), 0);
  EXPECT_TRUE(UnmapViewOfFile(view));
  CloseHandle(mapping);
  CloseHandle(ready);
  CloseHandle(done);
}

TEST_F(FileMappingTest, SectionLeftByAProcessThatExitedWithItOpenStartsAfresh) {
  pid_t child = StartChild([] {
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"left open");
    auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    if (view == nullptr) return 1;
    view[0] = 'x';
    ::_exit(0);  // handle and view never closed
  });
  ASSERT_EQ(WaitForChild(child), 0);
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8192, L"left open");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 8192));  // the new size
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0], 0);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
}

// What another account may do to a machine-wide section: cut its file short
// while this process has it mapped. The process lives on, on private pages.
TEST_F(FileMappingTest, ViewOfASectionCutShortUnderItKeepsTheProcessAlive) {
  pid_t child = StartChild([] {
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16384, L"cut short");
    auto* view = static_cast<volatile char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (view == nullptr) return 1;
    view[0] = 'a';
    const std::string path = platform::AccountNamedObjectDirectory(platform::NamedObjectScope()) + "/" +
                             platform::EncodeObjectName(L"cut short");
    const int file = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (file < 0 || ::ftruncate(file, 0) != 0) return 2;
    ::close(file);
    if (platform::SharedMappingWasCut(const_cast<char*>(view))) return 3;
    view[16383] = 'z';  // past the file's end now: would be SIGBUS
    view[0] = 'b';
    if (view[16383] != 'z' || !platform::SharedMappingWasCut(const_cast<char*>(view))) return 4;
    UnmapViewOfFile(const_cast<char*>(view));
    CloseHandle(mapping);  // the header page is gone too: closing still works
    return 0;
  });
  EXPECT_EQ(WaitForChild(child), 0);
}

TEST_F(FileMappingTest, ViewsOfOneSectionShareMemoryAndOutliveTheHandle) {
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 200000, "two views");
  auto* first = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  auto* second = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 65536, 4096));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  CloseHandle(mapping);
  std::strcpy(first + 65536, "shared");
  EXPECT_STREQ(second, "shared");
  EXPECT_TRUE(FlushViewOfFile(first + 10, 0));
  HANDLE reopened = OpenFileMappingW(FILE_MAP_READ, FALSE, L"two views");
  ASSERT_NE(reopened, nullptr);  // the views keep the section alive
  auto* third = static_cast<char*>(MapViewOfFile(reopened, FILE_MAP_READ, 0, 65536, 0));
  ASSERT_NE(third, nullptr);
  EXPECT_STREQ(third, "shared");
  // A handle opened for reading maps no writable view.
  EXPECT_EQ(MapViewOfFile(reopened, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(reopened);
  for (void* view : {static_cast<void*>(first), static_cast<void*>(second), static_cast<void*>(third)}) {
    EXPECT_TRUE(UnmapViewOfFile(view));
  }
  EXPECT_FALSE(UnmapViewOfFile(first));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
  // Last handle and last view gone: the name is free and a new section starts zeroed.
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, L"two views"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  HANDLE fresh = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 200000, "two views");
  auto* zeroed = static_cast<char*>(MapViewOfFile(fresh, FILE_MAP_READ, 0, 65536, 16));
  EXPECT_EQ(zeroed[0], 0);
  UnmapViewOfFile(zeroed);
  CloseHandle(fresh);
}

TEST_F(FileMappingTest, BadRequestsFailWithTheWindowsErrors) {
  EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, 0x40 /* PAGE_EXECUTE_READWRITE */, 0, 10, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreateFileMappingW(reinterpret_cast<HANDLE>(0x1234), nullptr, PAGE_READWRITE, 0, 10, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);

  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 4096, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 65536, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 4097), nullptr);
  auto* view = static_cast<int*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 4096));
  ASSERT_NE(view, nullptr);
  view[1023] = 7;
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, L"none such"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileMappingTest, CopyOnWriteViewKeepsItsChangesPrivate) {
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"cow");
  auto* shared = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  auto* copy = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_COPY, 0, 0, 0));
  ASSERT_NE(copy, nullptr);
  copy[0] = 'x';
  EXPECT_EQ(shared[0], 0);
  UnmapViewOfFile(copy);
  UnmapViewOfFile(shared);
  CloseHandle(mapping);
}

}  // namespace
}  // namespace kestnet::testing

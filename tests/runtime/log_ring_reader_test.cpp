#include "runtime/log_ring_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/os/home.h"
#include "platform/shm/file_mapping.h"
#include "platform/sync/named_objects.h"
#include "platform/sync/named_section.h"
#include "runtime/log_text.h"
#include "runtime/logger.h"
#include "tests/runtime/log_test_support.h"
#include "tests/support/second_account.h"

namespace {

using KestLog::CopyEntriesSince;
using KestLog::LogEntry;
using KestLog::LogRingHeader;

// A ring in ordinary memory, laid out as the shared one.
class HeapRing {
 public:
  explicit HeapRing(std::uint32_t slots)
      : m_storage((KestLog::LogRingSize(slots) + 7) / 8, 0), m_slots(slots) {
    Header()->entryCount = slots;
    Header()->generation = 1;
  }
  LogRingHeader* Header() { return reinterpret_cast<LogRingHeader*>(m_storage.data()); }
  // Writes entry number Header()->writeCounter as a writer would.
  void Write(const std::string& message) {
    LogEntry& slot = KestLog::LogRingEntries(Header())[Header()->writeCounter % m_slots];
    std::memset(&slot, 0, sizeof slot);
    KestLog::CopyBoundedText(slot.message, message.c_str());
    Header()->writeCounter += 1;
  }
  std::uint32_t Slots() const { return m_slots; }

 private:
  std::vector<std::uint64_t> m_storage;
  std::uint32_t m_slots;
};

std::vector<std::string> Messages(const KestLog::LogRingRead& read) {
  std::vector<std::string> messages;
  for (const LogEntry& entry : read.entries) messages.emplace_back(entry.message);
  return messages;
}

TEST(CopyEntriesSinceTest, AReaderThatKeepsUpGetsEachEntryOnce) {
  HeapRing ring(4);
  std::uint32_t next = 0;
  ring.Write("a");
  ring.Write("b");
  KestLog::LogRingRead read = CopyEntriesSince(ring.Header(), ring.Slots(), &next, 4);
  EXPECT_EQ(Messages(read), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(read.firstIndex, 0u);
  EXPECT_EQ(read.missed, 0u);
  EXPECT_EQ(next, 2u);

  read = CopyEntriesSince(ring.Header(), ring.Slots(), &next, 4);
  EXPECT_TRUE(read.entries.empty());

  ring.Write("c");
  read = CopyEntriesSince(ring.Header(), ring.Slots(), &next, 4);
  EXPECT_EQ(Messages(read), (std::vector<std::string>{"c"}));
  EXPECT_EQ(read.firstIndex, 2u);
}

TEST(CopyEntriesSinceTest, AReaderLappedByTheWritersIsToldHowManyItMissed) {
  HeapRing ring(4);
  std::uint32_t next = 0;
  for (int i = 0; i < 10; ++i) ring.Write("e" + std::to_string(i));
  const KestLog::LogRingRead read = CopyEntriesSince(ring.Header(), ring.Slots(), &next, 4);
  EXPECT_EQ(read.missed, 6u);
  EXPECT_EQ(read.firstIndex, 6u);
  EXPECT_EQ(Messages(read), (std::vector<std::string>{"e6", "e7", "e8", "e9"}));
  EXPECT_EQ(next, 10u);
}

TEST(CopyEntriesSinceTest, ACounterThatWrapsAt32BitsKeepsTheOrder) {
  HeapRing ring(4);
  ring.Header()->writeCounter = 0xFFFFFFFEu;
  std::uint32_t next = 0xFFFFFFFEu;
  for (const char* message : {"w0", "w1", "w2"}) ring.Write(message);
  EXPECT_EQ(ring.Header()->writeCounter, 1u);
  const KestLog::LogRingRead read = CopyEntriesSince(ring.Header(), ring.Slots(), &next, 4);
  EXPECT_EQ(read.missed, 0u);
  EXPECT_EQ(Messages(read), (std::vector<std::string>{"w0", "w1", "w2"}));
  EXPECT_EQ(next, 1u);
}

TEST(CopyEntriesSinceTest, AReaderAheadOfANewRingStartsFromItsBeginning) {
  HeapRing ring(4);
  ring.Write("new ring");
  std::uint32_t next = 500;  // position in a ring that no longer exists
  const KestLog::LogRingRead read = CopyEntriesSince(ring.Header(), ring.Slots(), &next, 4);
  EXPECT_EQ(Messages(read), (std::vector<std::string>{"new ring"}));
  EXPECT_EQ(read.missed, 0u);
  EXPECT_EQ(next, 1u);
}

TEST(CopyEntriesSinceTest, FieldsWithoutTheirNulAreTerminatedInTheCopy) {
  HeapRing ring(2);
  ring.Write("x");
  LogEntry& slot = KestLog::LogRingEntries(ring.Header())[0];
  std::memset(slot.processName, 'p', sizeof slot.processName);
  std::memset(slot.className, 'c', sizeof slot.className);
  std::memset(slot.message, 'm', sizeof slot.message);
  std::uint32_t next = 0;
  const KestLog::LogRingRead read = CopyEntriesSince(ring.Header(), ring.Slots(), &next, 2);
  ASSERT_EQ(read.entries.size(), 1u);
  EXPECT_EQ(std::strlen(read.entries[0].processName), sizeof slot.processName - 1);
  EXPECT_EQ(std::strlen(read.entries[0].className), sizeof slot.className - 1);
  EXPECT_EQ(std::strlen(read.entries[0].message), sizeof slot.message - 1);
}

class LogRingReaderTest : public ::testing::Test {
 protected:
  kestnet::testing::TemporaryHome m_home;
};

TEST_F(LogRingReaderTest, WithoutARingItSaysSoAndCreatesNone) {
  KestLog::LogRingOpenFailure why = KestLog::LogRingOpenFailure::kNone;
  EXPECT_EQ(KestLog::LogRingReader::OpenExisting(&why), nullptr);
  EXPECT_EQ(why, KestLog::LogRingOpenFailure::kMissing);
  EXPECT_STRNE(KestLog::DescribeLogRingOpenFailure(why), "");
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, KestLog::kLogMappingNameW);
  EXPECT_EQ(mapping, nullptr);
  if (mapping != nullptr) CloseHandle(mapping);
}

TEST_F(LogRingReaderTest, NewestOfAYoungRingIsWhatWasWritten) {
  KestLog::Logger logger;
  logger.Write("Test::Reader", 2, "one");
  logger.Write("Test::Reader", 2, "two");
  logger.Write("Test::Reader", 2, "three");
  auto reader = KestLog::LogRingReader::OpenExisting();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->GetEntryCount(), 512u);
  EXPECT_EQ(reader->GetWriteCounter(), 3u);
  EXPECT_EQ(Messages(reader->ReadNewest(2)), (std::vector<std::string>{"two", "three"}));
  const KestLog::LogRingRead all = reader->ReadNewest(512);
  EXPECT_EQ(Messages(all), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(all.firstIndex, 0u);

  std::uint32_t next = 3;
  logger.Write("Test::Reader", 2, "four");
  EXPECT_EQ(Messages(reader->ReadSince(&next)), (std::vector<std::string>{"four"}));
}

TEST(LogTextTest, BoundedCopiesNeverEndInHalfACharacter) {
  struct Case {
    const char* name;
    std::string text;
    size_t capacity;
    std::string expected;
  };
  const Case cases[] = {
      {"fits", "abc", 8, "abc"},
      {"ascii cut", "abcdef", 4, "abc"},
      {"two-byte character cut", "ab\xC3\xA9", 4, "ab"},
      {"two-byte character fits", "ab\xC3\xA9", 5, "ab\xC3\xA9"},
      {"four-byte character cut after 3", "a\xF0\x9F\x98\x80", 5, "a"},
      {"four-byte character fits", "a\xF0\x9F\x98\x80", 6, "a\xF0\x9F\x98\x80"},
      {"stray continuation bytes are cut where asked", "\x80\x80\x80\x80\x80", 3, "\x80\x80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<char> field(c.capacity, '#');
    KestLog::CopyBoundedText(field.data(), field.size(), c.text.c_str());
    EXPECT_EQ(std::string(field.data()), c.expected);
  }
}

// Another account damages the ring every account shares: the file cut back
// to its header page, or a header claiming more than the file holds. A reader
// that opens it afterwards refuses it instead of dying of SIGBUS.
enum class RingDamage { Truncated, OverstatedSizes };

class DamagedRingTest : public LogRingReaderTest, public ::testing::WithParamInterface<RingDamage> {};

// Damages the ring and holds it until the handshake lets go.
int DamageRingAndHoldIt(RingDamage damage, kestnet::testing::Handshake& handshake) {
  KestLog::EveryoneSecurityAttributes everyone;
  const auto size = static_cast<DWORD>(KestLog::LogRingSize(8));
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, everyone.Get(), PAGE_READWRITE, 0, size,
                                      KestLog::kLogMappingNameW);
  auto* header = static_cast<LogRingHeader*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (header == nullptr) return 1;
  header->entryCount = 8;
  header->generation = 1;
  header->writeCounter = 5;
  const std::string path = kestnet::platform::NamedObjectDirectory(kestnet::platform::NamedObjectScope()) + "/" +
                           kestnet::platform::EncodeObjectName(KestLog::kLogMappingNameW);
  int file = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (file < 0) return 2;
  if (damage == RingDamage::Truncated) {
    if (::ftruncate(file, kestnet::platform::NamedSection::kHeaderPage) != 0) return 3;
  } else {
    header->entryCount = 100000;
    header->writeCounter = 90000;
    const std::uint64_t claimedData = 1ull << 32;  // the section header's data size, at offset 8
    if (::pwrite(file, &claimedData, sizeof claimedData, 8) != sizeof claimedData) return 3;
  }
  ::close(file);
  handshake.SignalReady();
  handshake.WaitToGo();
  UnmapViewOfFile(header);
  CloseHandle(mapping);
  return 0;
}

TEST_P(DamagedRingTest, AFreshReaderRefusesItInsteadOfFaulting) {
  if (!kestnet::testing::CanActAsSecondAccount()) GTEST_SKIP() << "needs root to act as a second account";
  kestnet::testing::Handshake handshake;
  pid_t planter = kestnet::testing::StartAsNobody([&] { return DamageRingAndHoldIt(GetParam(), handshake); });
  handshake.KeepParentEnds();
  ASSERT_TRUE(handshake.WaitReady());
  // A process that has not mapped the ring yet, as every new one.
  pid_t reader = kestnet::testing::StartChild([] {
    KestLog::LogRingOpenFailure why = KestLog::LogRingOpenFailure::kNone;
    auto ring = KestLog::LogRingReader::OpenExisting(&why);
    if (ring) ring->ReadNewest(8);
    return ring ? 1 : why == KestLog::LogRingOpenFailure::kUnusable ? 0 : 2;
  });
  EXPECT_EQ(kestnet::testing::WaitForChild(reader), 0);
  handshake.LetGo();
  EXPECT_EQ(kestnet::testing::WaitForChild(planter), 0);
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedRingTest,
                         ::testing::Values(RingDamage::Truncated, RingDamage::OverstatedSizes),
                         [](const auto& test) -> std::string {
                           return test.param == RingDamage::Truncated ? "Truncated" : "OverstatedSizes";
                         });

}  // namespace

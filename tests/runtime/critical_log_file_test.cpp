#include "runtime/critical_log_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/runtime/log_test_support.h"
#include "tests/support/second_account.h"

namespace {

using KestLog::CriticalLogFile;

constexpr std::string_view kMarker = "$$******SEPARATOR******$$";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t StoredEnd(const std::string& contents) {
  if (contents.size() < 4) return 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(contents.data());
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

class CriticalLogFileTest : public ::testing::Test {
 protected:
  std::string Path() const { return m_home.Path().string() + "/critical.txt"; }
  kestnet::testing::TemporaryHome m_home;
};

TEST_F(CriticalLogFileTest, EntriesFollowEachOtherWithTheMarkerAfterTheNewest) {
  CriticalLogFile file(Path());
  file.Append("first");
  std::string contents = ReadAll(Path());
  EXPECT_EQ(contents.substr(4), "\r\nfirst\r\n" + std::string(kMarker));
  EXPECT_EQ(StoredEnd(contents), contents.size());

  file.Append("second");
  contents = ReadAll(Path());
  // The second entry overwrites the first one's marker.
  EXPECT_EQ(contents.substr(4), "\r\nfirst\r\nsecond\r\n" + std::string(kMarker));
  EXPECT_EQ(StoredEnd(contents), contents.size());
}

TEST_F(CriticalLogFileTest, WrapsAtTheLimitAndBlanksTheOldTailFromItsLastMarker) {
  CriticalLogFile file(Path());
  const std::string line(200, 'a');
  std::uint32_t endBeforeWrap = 0;
  for (int i = 0; i < 1000; ++i) {
    file.Append(line);
    const std::uint32_t end = StoredEnd(ReadAll(Path()));
    if (end >= CriticalLogFile::kWrapOffset) {
      endBeforeWrap = end;
      break;
    }
  }
  ASSERT_GE(endBeforeWrap, CriticalLogFile::kWrapOffset);
  const size_t sizeBeforeWrap = ReadAll(Path()).size();

  file.Append("after wrap");
  const std::string contents = ReadAll(Path());
  const std::string newest = "\r\nafter wrap\r\n" + std::string(kMarker);
  EXPECT_EQ(contents.size(), sizeBeforeWrap);
  EXPECT_EQ(contents.substr(4, newest.size()), newest);
  EXPECT_EQ(StoredEnd(contents), 4 + newest.size());
  // Old entries behind the new one stay; from the old last marker on, spaces.
  const size_t oldMarker = endBeforeWrap - kMarker.size();
  EXPECT_EQ(contents.substr(oldMarker), std::string(contents.size() - oldMarker, ' '));
  EXPECT_EQ(contents.find(kMarker, 4 + newest.size()), std::string::npos);
}

TEST_F(CriticalLogFileTest, StartsOverWhenTheStoredEndCannotBeTrusted) {
  struct Case {
    const char* name;
    std::uint32_t storedEnd;
  };
  // An end past the file's size and one too small to follow any entry.
  for (const Case& c : {Case{"beyond the end", 100000}, Case{"below the first entry", 30}}) {
    SCOPED_TRACE(c.name);
    std::string contents(4, '\0');
    for (int i = 0; i < 4; ++i) contents[i] = static_cast<char>(c.storedEnd >> (8 * i));
    contents += std::string(60, 'z');
    std::ofstream(Path(), std::ios::binary | std::ios::trunc) << contents;

    CriticalLogFile(Path()).Append("fresh");
    const std::string after = ReadAll(Path());
    const std::string expected = "\r\nfresh\r\n" + std::string(kMarker);
    EXPECT_EQ(after.substr(4, expected.size()), expected);
    EXPECT_EQ(StoredEnd(after), 4 + expected.size());
  }
}

TEST_F(CriticalLogFileTest, DefaultLocationIsTolvarUnderTheAllUsersDataFolder) {
  const std::string path = CriticalLogFile::DefaultPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.rfind(m_home.Path().string(), 0), 0u) << path;
  EXPECT_NE(path.find("/Tolvar/critical.txt"), std::string::npos) << path;

  CriticalLogFile file;
  file.Append("to the default place");
  EXPECT_NE(ReadAll(path).find("to the default place"), std::string::npos);
}

TEST_F(CriticalLogFileTest, AnUnreachableFolderDropsTheCopyQuietly) {
  CriticalLogFile file(m_home.Path().string() + "/no/such/folder/critical.txt");
  file.Append("nowhere to go");  // must neither throw nor create the folder
  EXPECT_FALSE(std::filesystem::exists(m_home.Path().string() + "/no"));
}

// Threads of this process and another process append at once: every entry
// arrives whole and the markers stay consistent.
TEST_F(CriticalLogFileTest, ConcurrentThreadsAndProcessesLoseAndTearNothing) {
  constexpr int kPerWriter = 20;
  auto appendAll = [this](const std::string& who) {
    CriticalLogFile file(Path());
    for (int i = 0; i < kPerWriter; ++i) file.Append(who + " entry " + std::to_string(i));
  };

  const pid_t child = kestnet::testing::StartChild([&appendAll] {
    appendAll("process");
    return 0;
  });
  std::thread first(appendAll, "thread-a");
  std::thread second(appendAll, "thread-b");
  first.join();
  second.join();
  ASSERT_EQ(kestnet::testing::WaitForChild(child), 0);

  const std::string contents = ReadAll(Path());
  ASSERT_LT(contents.size(), CriticalLogFile::kWrapOffset);  // no wrap in this test
  std::set<std::string> seen;
  size_t position = 4 + 2;  // after the leading line end
  while (position < contents.size()) {
    const size_t lineEnd = contents.find("\r\n", position);
    ASSERT_NE(lineEnd, std::string::npos);
    seen.insert(contents.substr(position, lineEnd - position));
    position = lineEnd + 2;
    if (contents.compare(position, kMarker.size(), kMarker) == 0) {
      position += kMarker.size();
      break;
    }
  }
  EXPECT_EQ(position, contents.size());
  EXPECT_EQ(StoredEnd(contents), contents.size());
  EXPECT_EQ(seen.size(), 3u * kPerWriter);
  for (const char* who : {"process", "thread-a", "thread-b"}) {
    for (int i = 0; i < kPerWriter; ++i) {
      EXPECT_EQ(seen.count(std::string(who) + " entry " + std::to_string(i)), 1u) << who << i;
    }
  }
}

}  // namespace

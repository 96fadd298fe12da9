#include "net/sockets/dyna_byte_buffer.h"

#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace KestNet {
namespace {

void AppendText(DynaByteBuffer& p_buffer, const std::string& p_text) {
  ASSERT_TRUE(p_buffer.Append(reinterpret_cast<const BYTE*>(p_text.data()),
                              static_cast<DWORD>(p_text.size())));
}

std::string Take(DynaByteBuffer& p_buffer, DWORD p_count, bool p_remove) {
  std::string out(p_count, '\0');
  if (!p_buffer.GetData(reinterpret_cast<BYTE*>(out.data()), p_count, p_remove)) {
    return "<fail>";
  }
  return out;
}

TEST(DynaByteBuffer, CopiesAndRemovesFromTheFront) {
  DynaByteBuffer buffer;
  AppendText(buffer, "hello ");
  AppendText(buffer, "world");
  EXPECT_EQ(buffer.GetSize(), 11u);
  EXPECT_EQ(Take(buffer, 5, false), "hello");
  EXPECT_EQ(buffer.GetSize(), 11u);
  EXPECT_EQ(Take(buffer, 6, true), "hello ");
  EXPECT_EQ(Take(buffer, 5, true), "world");
  EXPECT_EQ(buffer.GetSize(), 0u);
}

TEST(DynaByteBuffer, RefusesCountsOutsideOneToSizeAndNullArguments) {
  DynaByteBuffer buffer;
  BYTE out[4];
  EXPECT_FALSE(buffer.GetData(out, 1, false)) << "empty";
  AppendText(buffer, "abc");
  EXPECT_FALSE(buffer.GetData(out, 0, false));
  EXPECT_FALSE(buffer.GetData(out, 4, false));
  EXPECT_FALSE(buffer.GetData(nullptr, 1, false));
  EXPECT_FALSE(buffer.Append(nullptr, 3));
  EXPECT_FALSE(buffer.Append(out, 0));
  EXPECT_FALSE(buffer.Remove(0));
  EXPECT_FALSE(buffer.Remove(4));
  EXPECT_EQ(buffer.GetSize(), 3u);
}

TEST(DynaByteBuffer, FindsAndTakesRelativeToTheFront) {
  DynaByteBuffer buffer;
  AppendText(buffer, "a\nb\nc");
  EXPECT_EQ(buffer.Find('\n'), 1u);
  ASSERT_TRUE(buffer.Remove(2));
  EXPECT_EQ(buffer.Find('\n'), 1u);
  EXPECT_EQ(buffer.Find('z'), DynaByteBuffer::kNotFound);

  std::string line = "stale";
  DWORD held = 0;
  ASSERT_TRUE(buffer.TakeLine(line, held));
  EXPECT_EQ(line, "b") << "the delimiter goes with the line, and only it";
  EXPECT_EQ(held, 3u);
  EXPECT_FALSE(buffer.TakeLine(line, held));
  EXPECT_EQ(line, "b");
  EXPECT_EQ(held, 1u);
  EXPECT_EQ(Take(buffer, buffer.GetSize(), false), "c");
}

TEST(DynaByteBuffer, ReadToDelimiterHonoursItsFlags) {
  DynaByteBuffer buffer;
  AppendText(buffer, "abc\ndef\n");
  BYTE out[16];
  DWORD length = 0;

  ASSERT_TRUE(buffer.ReadToDelimiter('\n', out, sizeof(out), &length, true, false, false));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), length), "abc\n");
  EXPECT_EQ(buffer.GetSize(), 8u) << "nothing removed without the remove flag";

  ASSERT_TRUE(buffer.ReadToDelimiter('\n', out, sizeof(out), &length, false, true, false));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), length), "abc");
  EXPECT_EQ(buffer.GetSize(), 5u) << "the delimiter stays without remove-delimiter";

  ASSERT_TRUE(buffer.ReadToDelimiter('\n', out, sizeof(out), &length, false, true, true));
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(Take(buffer, buffer.GetSize(), false), "def\n");
}

TEST(DynaByteBuffer, ReadToDelimiterLeavesRoomForATerminator) {
  DynaByteBuffer buffer;
  AppendText(buffer, "abcd\n");
  BYTE out[8];
  DWORD length = 99;
  EXPECT_FALSE(buffer.ReadToDelimiter('\n', out, 4, &length, false, true, true)) << "4 >= 4";
  EXPECT_FALSE(buffer.ReadToDelimiter('\n', out, 5, &length, true, true, true)) << "5 >= 5";
  EXPECT_EQ(length, 99u);
  EXPECT_EQ(buffer.GetSize(), 5u);
  EXPECT_FALSE(buffer.ReadToDelimiter('x', out, sizeof(out), &length, false, true, true));
  EXPECT_FALSE(buffer.ReadToDelimiter('\n', nullptr, sizeof(out), &length, false, true, true));
  EXPECT_FALSE(buffer.ReadToDelimiter('\n', out, 0, &length, false, true, true));
  EXPECT_TRUE(buffer.ReadToDelimiter('\n', out, 5, &length, false, true, true));
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(buffer.GetSize(), 0u);
}

// The buffer skips consumed bytes and compacts now and then; a queue model
// checks that no sequence of operations loses, duplicates or reorders a byte.
TEST(DynaByteBuffer, BehavesAsAByteQueueUnderRandomOperations) {
  DynaByteBuffer buffer;
  std::deque<BYTE> model;
  std::mt19937 random(20261206);
  BYTE next = 0;
  std::vector<BYTE> scratch(20000);
  for (int step = 0; step < 1500; ++step) {
    const int choice = static_cast<int>(random() % 4);
    if (choice <= 1) {
      const DWORD count = 1 + random() % 9000;
      for (DWORD i = 0; i < count; ++i) {
        scratch[i] = next++;
      }
      ASSERT_TRUE(buffer.Append(scratch.data(), count));
      model.insert(model.end(), scratch.begin(), scratch.begin() + count);
    } else if (!model.empty()) {
      const DWORD count = 1 + random() % std::min<std::size_t>(model.size(), 12000);
      ASSERT_TRUE(buffer.GetData(scratch.data(), count, choice == 2));
      for (DWORD i = 0; i < count; ++i) {
        ASSERT_EQ(scratch[i], model[i]) << "step " << step << " byte " << i;
      }
      if (choice == 2) {
        model.erase(model.begin(), model.begin() + count);
      }
    }
    ASSERT_EQ(buffer.GetSize(), model.size());
  }
  buffer.Clear();
  EXPECT_EQ(buffer.GetSize(), 0u);
}

TEST(DynaByteBuffer, ConcurrentWriterAndReaderSeeEveryByteInOrder) {
  DynaByteBuffer buffer;
  constexpr int kBytes = 50000;
  std::thread writer([&] {
    for (int i = 0; i < kBytes; ++i) {
      const BYTE value = static_cast<BYTE>(i % 251);
      buffer.Append(&value, 1);
    }
  });
  int read = 0;
  bool inOrder = true;
  while (read < kBytes) {
    BYTE value = 0;
    if (buffer.GetSize() > 0 && buffer.GetData(&value, 1, true)) {
      inOrder = inOrder && value == static_cast<BYTE>(read % 251);
      ++read;
    }
  }
  writer.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(buffer.GetSize(), 0u);
}

}  // namespace
}  // namespace KestNet

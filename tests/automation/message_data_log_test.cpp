// The message data object's own log lines, read back from the log ring. Each
// case runs in a fresh process (a death-test child) with its own
// KESTNET_HOME, so the logger it starts is its own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "automation/message_data.h"
#include "platform/com/com.h"
#include "platform/os/home.h"
#include "platform/sync/named_objects.h"
#include "runtime/log.h"
#include "runtime/log_ring_reader.h"

namespace {

struct ExpectedLine {
  unsigned level;
  const char* message;
};

// Child side: makes a message, runs body on it, compares the newest ring
// entries of the object's class with expected; exits 0 on a match, 1 (with
// the difference on standard error) when not.
template <typename Body>
[[noreturn]] void CheckMessageDataLines(Body body, const std::vector<ExpectedLine>& expected) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestnet-msglog-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::_Exit(2);
  ::setenv("KESTNET_HOME", pattern.c_str(), 1);
  Log("KestNetX::Test", kLogLevelInformation, "start");  // starts this process's logger
  if (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) != S_OK) std::_Exit(2);
  {
    ATL::CComObject<KestAXLib::CMessageData>* message = nullptr;
    if (ATL::CComObject<KestAXLib::CMessageData>::CreateInstance(&message) != S_OK) std::_Exit(2);
    message->AddRef();
    body(static_cast<IKestNetMessageData*>(message));
    message->Release();
  }
  int status = 0;
  std::unique_ptr<KestLog::LogRingReader> reader = KestLog::LogRingReader::OpenExisting();
  if (reader == nullptr) {
    std::fprintf(stderr, "no log ring\n");
    status = 1;
  } else {
    std::vector<KestLog::LogEntry> mine;
    for (const KestLog::LogEntry& entry : reader->ReadNewest(64).entries) {
      if (std::strcmp(entry.className, "KestNetX::CMessageData") == 0) mine.push_back(entry);
    }
    if (mine.size() != expected.size()) {
      std::fprintf(stderr, "%zu lines, expected %zu\n", mine.size(), expected.size());
      status = 1;
    }
    for (size_t i = 0; i < mine.size() && i < expected.size(); ++i) {
      if (mine[i].level != expected[i].level || std::strcmp(mine[i].message, expected[i].message) != 0) {
        std::fprintf(stderr, "line %zu: [%u] <%s>, expected [%u] <%s>\n", i, mine[i].level, mine[i].message,
                     expected[i].level, expected[i].message);
        status = 1;
      }
    }
  }
  reader.reset();
  IErrorInfo* stale = nullptr;
  if (GetErrorInfo(0, &stale) == S_OK && stale != nullptr) stale->Release();
  CoUninitialize();
  // _Exit runs no exit handler: the ring goes with the scope's objects here.
  kestnet::platform::RemoveNamedObjects(kestnet::platform::NamedObjectScope());
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  std::_Exit(status);
}

class MessageDataLogTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(MessageDataLogTest, BadIndexOfRemoveHeaderAndGetHeaderLogsTheRemoveHeaderMessage) {
  EXPECT_EXIT(CheckMessageDataLines(
                  [](IKestNetMessageData* message) {
                    message->RemoveHeader(-1);
                    BSTR line = nullptr;
                    message->GetHeader(0, &line);
                  },
                  {{1, "RemoveHeader():  Error - Invalid Index into the Header Array."},
                   {1, "RemoveHeader():  Exception - INVALID_ARG_ERROR.  Extended Data = <>"},
                   {1, "RemoveHeader():  Error - Invalid Index into the Header Array."},
                   {1, "GetHeader():  Exception - INVALID_ARG_ERROR.  Extended Data = <>"}}),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace

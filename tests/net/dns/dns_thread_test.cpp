// The query engine against scripted DNS peers on port 53 of a private
// network namespace: what is accepted, what is ignored, the retransmission
// schedule on the wire, abort, and a single report whatever happens.
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/dns/dns_thread.h"
#include "net/sockets/set_manager.h"
#include "net/sockets/socket_event_thread.h"
#include "runtime/exceptions.h"
#include "tests/net/dns/dns_thread_test_support.h"
#include "tests/support/private_network_test.h"

namespace KestNet::testing {
namespace {

using kestnet::testing::DnsBytes;
using kestnet::testing::DnsResponseBuilder;
using kestnet::testing::ReceivedDatagram;
using kestnet::testing::ScriptedReply;
using kestnet::testing::ScriptedUdpPeer;
using kestnet::testing::UdpPeerScript;

constexpr const char* kServerA = "127.0.0.53";
constexpr const char* kServerB = "127.0.0.54";
constexpr const char* kForeignAddress = "127.0.0.99";

class DnsThreadTest : public kestnet::testing::PrivateNetworkTest {
 protected:
  void SetUp() override {
    PrivateNetworkTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    // As every user of the socket layer does before its first socket.
    ASSERT_TRUE(InitializeSockets());
    m_bSocketsInitialized = true;
  }

  void TearDown() override {
    m_query.reset();
    for (auto& peer : m_peers) {
      peer->Stop();
    }
    m_peers.clear();
    if (m_bSocketsInitialized) {
      UninitializeSockets();
      EXPECT_TRUE(SocketEventThread::WaitForAllThreadsToEnd(5000));
    }
    PrivateNetworkTest::TearDown();
  }

  bool m_bSocketsInitialized = false;

  ScriptedUdpPeer& StartPeer(const std::string& p_address, UdpPeerScript p_script = {},
                             bool p_bWithForeignSender = false) {
    auto peer = std::make_unique<ScriptedUdpPeer>();
    std::string error;
    if (p_bWithForeignSender) {
      EXPECT_EQ(peer->AddSender(kForeignAddress, 53, error), 1u) << error;
      EXPECT_EQ(peer->AddSender(p_address, 5353, error), 2u) << error;
    }
    peer->SetScript(std::move(p_script));
    EXPECT_TRUE(peer->Start(p_address, 53, error)) << error;
    m_peers.push_back(std::move(peer));
    return *m_peers.back();
  }

  DNSThread& StartQuery(const std::vector<std::string>& p_servers, const std::string& p_name,
                        DWORD p_dwTimeout) {
    m_query = std::make_unique<DNSThread>();
    m_query->RunQuery(p_servers, p_name, p_dwTimeout, false, false, 0, &m_listener);
    return *m_query;
  }

  // Waits for the one report and for the query thread to end, then checks
  // that no second report follows.
  ListenerCall SingleReport(std::chrono::milliseconds p_timeout = 10s) {
    EXPECT_TRUE(m_listener.WaitForCalls(1, p_timeout));
    EXPECT_TRUE(m_query->WaitForThreadToEnd(10000));
    auto calls = m_listener.Calls();
    EXPECT_EQ(calls.size(), 1u);
    return calls.empty() ? ListenerCall{} : calls.front();
  }

  RecordingListener m_listener;
  std::vector<std::unique_ptr<ScriptedUdpPeer>> m_peers;
  std::unique_ptr<DNSThread> m_query;
};

TEST_F(DnsThreadTest, DeliversTheAddressOfAnAcceptedAnswer) {
  StartPeer(kServerA, AnswerWithAddress("10.1.2.3", 3600));
  StartQuery({kServerA}, "alpha.test", 5000);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.name, L"alpha.test");
  EXPECT_EQ(call.result, DNS_SUCCESS);
  ASSERT_EQ(call.records.size(), 1u);
  EXPECT_EQ(call.records[0].name, "alpha.test");
  EXPECT_EQ(call.records[0].type, kDnsRecordTypeA);
  EXPECT_EQ(call.records[0].ttl, 3600u);
  EXPECT_EQ(call.records[0].address.ToString(), "10.1.2.3");

  DWORD result = 99;
  DnsRecordList records;
  m_query->GetResults(result, records);
  EXPECT_EQ(result, DNS_SUCCESS);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].address.ToString(), "10.1.2.3");
}

TEST_F(DnsThreadTest, KeepsTtlZeroAsRead) {
  StartPeer(kServerA, AnswerWithAddress("10.1.2.3", 0));
  StartQuery({kServerA}, "zero.test", 5000);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_SUCCESS);
  ASSERT_EQ(call.records.size(), 1u);
  EXPECT_EQ(call.records[0].ttl, 0u);
}

TEST_F(DnsThreadTest, CanonicalNameOnlyAnswerIsASuccessWithoutAddress) {
  StartPeer(kServerA, [](const ReceivedDatagram& p_datagram) {
    return std::vector<ScriptedReply>{
        {DnsResponseBuilder(QueryOf(p_datagram)).CName("", 60, "real.test").Build()}};
  });
  StartQuery({kServerA}, "www.test", 5000);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_SUCCESS);
  ASSERT_EQ(call.records.size(), 1u);
  EXPECT_EQ(call.records[0].type, kDnsRecordTypeCName);
  EXPECT_EQ(call.records[0].data, "real.test");
  EXPECT_FALSE(call.records[0].address.IsValid());
}

TEST_F(DnsThreadTest, AcceptsAQuestionNameInOtherLetterCaseAndATrailingDot) {
  StartPeer(kServerA, [](const ReceivedDatagram& p_datagram) {
    return std::vector<ScriptedReply>{{DnsResponseBuilder(QueryOf(p_datagram))
                                           .Question("MiXeD.TeSt")
                                           .A("", 60, "10.0.0.7")
                                           .Build()}};
  });
  StartQuery({kServerA}, "mixed.test.", 5000);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_SUCCESS);
  ASSERT_EQ(call.records.size(), 1u);
  EXPECT_EQ(call.records[0].address.ToString(), "10.0.0.7");
}

// Each case sends something that must be ignored, carrying the address
// 10.6.6.6, then a good answer with 10.1.1.1: exactly one success with the
// good address proves the first was dropped without harm.
struct IgnoredResponse {
  const char* name;
  std::function<ScriptedReply(const kestnet::testing::DnsQuery&)> make;
};

void PrintTo(const IgnoredResponse& p_response, std::ostream* p_pStream) { *p_pStream << p_response.name; }

DnsBytes Bad(const kestnet::testing::DnsQuery& p_query) {
  return DnsResponseBuilder(p_query).A("", 60, "10.6.6.6").Build();
}

const IgnoredResponse kIgnoredResponses[] = {
    {"WrongId",
     [](const auto& q) {
       return ScriptedReply{DnsResponseBuilder(q).Id(static_cast<std::uint16_t>(q.id + 100)).A("", 60, "10.6.6.6").Build()};
     }},
    {"ResponseBitClear",
     [](const auto& q) { return ScriptedReply{DnsResponseBuilder(q).Flags(0x0100).A("", 60, "10.6.6.6").Build()}; }},
    {"OtherName",
     [](const auto& q) { return ScriptedReply{DnsResponseBuilder(q).Question("other.test").A("", 60, "10.6.6.6").Build()}; }},
    {"FromForeignAddress", [](const auto& q) { return ScriptedReply{Bad(q), 1}; }},
    {"FromOtherPortOfTheServer", [](const auto& q) { return ScriptedReply{Bad(q), 2}; }},
    {"TruncatedPacket",
     [](const auto& q) {
       DnsBytes bytes = Bad(q);
       bytes.resize(bytes.size() - 2);
       return ScriptedReply{bytes};
     }},
    {"CompressionLoop",
     [](const auto& q) {
       DnsBytes bytes = Bad(q);
       // The answer's owner pointer (C0 0C) now points at itself.
       const std::size_t owner = 12 + q.question.size();
       bytes[owner + 1] = static_cast<std::uint8_t>(owner);
       return ScriptedReply{bytes};
     }},
    {"AddressOfFiveBytes",
     [](const auto& q) { return ScriptedReply{DnsResponseBuilder(q).Record("", 1, 60, {10, 6, 6, 6, 6}).Build()}; }},
    {"NotEvenAHeader", [](const auto&) { return ScriptedReply{DnsBytes{0xAB, 0xCD, 0x81}}; }},
    {"QuestionOfAnotherType",
     [](const auto& q) {
       DnsBytes bytes = Bad(q);
       bytes[12 + q.question.size() - 3] = 28;  // AAAA
       return ScriptedReply{bytes};
     }},
    {"QuestionOfAnotherClass",
     [](const auto& q) {
       DnsBytes bytes = Bad(q);
       bytes[12 + q.question.size() - 1] = 3;  // CH
       return ScriptedReply{bytes};
     }},
};

class DnsThreadIgnoresTest : public DnsThreadTest,
                             public ::testing::WithParamInterface<IgnoredResponse> {};

TEST_P(DnsThreadIgnoresTest, IgnoresTheResponseAndTakesTheNextGoodOne) {
  const IgnoredResponse& scenario = GetParam();
  StartPeer(
      kServerA,
      [&scenario](const ReceivedDatagram& p_datagram) {
        const auto query = QueryOf(p_datagram);
        return std::vector<ScriptedReply>{
            scenario.make(query),
            {DnsResponseBuilder(query).A("", 60, "10.1.1.1").Build(), 0, 100ms}};
      },
      true);
  StartQuery({kServerA}, "ignore.test", 5000);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_SUCCESS);
  ASSERT_EQ(call.records.size(), 1u);
  EXPECT_EQ(call.records[0].address.ToString(), "10.1.1.1");
}

INSTANTIATE_TEST_SUITE_P(Responses, DnsThreadIgnoresTest, ::testing::ValuesIn(kIgnoredResponses),
                         [](const auto& p_info) { return std::string(p_info.param.name); });

TEST_F(DnsThreadTest, ReadsEveryDatagramOfABackToBackPair) {
  // An ignored datagram and the good answer arrive together: reading the
  // first must not leave the second unannounced.
  StartPeer(kServerA, [](const ReceivedDatagram& p_datagram) {
    const auto query = QueryOf(p_datagram);
    return std::vector<ScriptedReply>{
        {DnsResponseBuilder(query).Id(static_cast<std::uint16_t>(query.id + 7)).A("", 1, "10.6.6.6").Build()},
        {DnsResponseBuilder(query).A("", 1, "10.1.1.1").Build()}};
  });
  StartQuery({kServerA}, "pair.test", 30000);
  const ListenerCall call = SingleReport(5s);
  EXPECT_EQ(call.result, DNS_SUCCESS);
  ASSERT_EQ(call.records.size(), 1u);
  EXPECT_EQ(call.records[0].address.ToString(), "10.1.1.1");
}

TEST_F(DnsThreadTest, IgnoredResponsesAloneEndInTimeout) {
  StartPeer(kServerA, [](const ReceivedDatagram& p_datagram) {
    const auto query = QueryOf(p_datagram);
    return std::vector<ScriptedReply>{
        {DnsResponseBuilder(query).Id(static_cast<std::uint16_t>(query.id ^ 0x5555)).A("", 1, "10.6.6.6").Build()}};
  });
  StartQuery({kServerA}, "never.test", 500);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_ERROR_TIMEOUT);
  EXPECT_TRUE(call.records.empty());
}

// Answers that say "nothing here" for the name: each counts as an empty
// answer (so one server gives DNS_ERROR_NO_RESPONSES), whatever else it carries.
struct EmptyAnswer {
  const char* name;
  std::function<DnsBytes(const kestnet::testing::DnsQuery&)> make;
};

void PrintTo(const EmptyAnswer& p_answer, std::ostream* p_pStream) { *p_pStream << p_answer.name; }

const EmptyAnswer kEmptyAnswers[] = {
    {"NoRecords", [](const auto& q) { return DnsResponseBuilder(q).Build(); }},
    {"NxDomainWithAnAddress", [](const auto& q) { return DnsResponseBuilder(q).Flags(0x8183).A("", 60, "10.6.6.6").Build(); }},
    {"ServFailWithAnAddress", [](const auto& q) { return DnsResponseBuilder(q).Flags(0x8182).A("", 60, "10.6.6.6").Build(); }},
    {"RefusedWithAnAddress", [](const auto& q) { return DnsResponseBuilder(q).Flags(0x8185).A("", 60, "10.6.6.6").Build(); }},
    {"AnAddressOfAnotherName", [](const auto& q) { return DnsResponseBuilder(q).A("victim.test", 60, "10.6.6.6").Build(); }},
    {"AnAliasOfAnotherName",
     [](const auto& q) {
       return DnsResponseBuilder(q).CName("victim.test", 60, "evil.test").A("evil.test", 60, "10.6.6.6").Build();
     }},
    {"AnAddressOfAnotherClass",
     [](const auto& q) {
       DnsBytes bytes = DnsResponseBuilder(q).A("", 60, "10.6.6.6").Build();
       bytes[bytes.size() - 11] = 3;  // CH: the low byte of the record's class
       return bytes;
     }},
};

class DnsThreadEmptyAnswerTest : public DnsThreadTest, public ::testing::WithParamInterface<EmptyAnswer> {};

TEST_P(DnsThreadEmptyAnswerTest, CountsAsAnEmptyAnswer) {
  const EmptyAnswer& scenario = GetParam();
  StartPeer(kServerA, [&scenario](const ReceivedDatagram& p_datagram) {
    return std::vector<ScriptedReply>{{scenario.make(QueryOf(p_datagram))}};
  });
  StartQuery({kServerA}, "empty.test", 5000);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_ERROR_NO_RESPONSES);
  EXPECT_TRUE(call.records.empty());
}

INSTANTIATE_TEST_SUITE_P(Answers, DnsThreadEmptyAnswerTest, ::testing::ValuesIn(kEmptyAnswers),
                         [](const auto& p_info) { return std::string(p_info.param.name); });

TEST_F(DnsThreadTest, EmptyAnswersFromEveryServerGiveNoResponses) {
  StartPeer(kServerA, AnswerEmpty(3));  // NXDOMAIN
  StartPeer(kServerB, AnswerEmpty(0));
  StartQuery({kServerA, kServerB}, "empty.test", 5000);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_ERROR_NO_RESPONSES);
  EXPECT_TRUE(call.records.empty());
}

TEST_F(DnsThreadTest, AnEmptyAnswerToTheRetransmissionCountsAgain) {
  // One server says NXDOMAIN to every transmission, the other is down: the
  // second "no such name" (to the first retransmission) ends the query, a
  // definite answer instead of a late time-out.
  ScriptedUdpPeer& answering = StartPeer(kServerA, AnswerEmpty(3));
  StartPeer(kServerB);
  StartQuery({kServerA, kServerB}, "gone.test", 5000);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_ERROR_NO_RESPONSES);
  EXPECT_TRUE(call.records.empty());
  EXPECT_EQ(answering.Received().size(), 2u);
}

TEST_F(DnsThreadTest, TakesOnlyTheRecordsAlongTheAliasChainInAnyOrder) {
  StartPeer(kServerA, [](const ReceivedDatagram& p_datagram) {
    return std::vector<ScriptedReply>{{DnsResponseBuilder(QueryOf(p_datagram))
                                           .A("other.test", 60, "10.6.6.6")
                                           .A("real.test", 60, "10.1.1.1")
                                           .CName("", 60, "Real.Test")
                                           .Build()}};
  });
  StartQuery({kServerA}, "www.test", 5000);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_SUCCESS);
  ASSERT_EQ(call.records.size(), 2u);
  EXPECT_EQ(call.records[0].address.ToString(), "10.1.1.1");
  EXPECT_EQ(call.records[1].type, kDnsRecordTypeCName);
  EXPECT_FALSE(m_query->GetDontCache());
}

TEST_F(DnsThreadTest, ATruncatedAnswerIsUsedButNotToBeCached) {
  StartPeer(kServerA, [](const ReceivedDatagram& p_datagram) {
    return std::vector<ScriptedReply>{
        {DnsResponseBuilder(QueryOf(p_datagram)).Flags(0x8380).A("", 60, "10.1.1.1").Build()}};
  });
  StartQuery({kServerA}, "big.test", 5000);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_SUCCESS);
  EXPECT_EQ(call.records.size(), 1u);
  EXPECT_TRUE(m_query->GetDontCache());
}

// The schedule of a time-out: the waits between transmissions, each followed
// by one retransmission to every server, and the time-out after the last.
struct ScheduleCase {
  DWORD timeout;
  std::vector<DWORD> waits;
  friend void PrintTo(const ScheduleCase& p_case, std::ostream* p_out) { *p_out << "timeout " << p_case.timeout; }
};

class DnsThreadScheduleTest : public DnsThreadTest, public ::testing::WithParamInterface<ScheduleCase> {};

TEST_P(DnsThreadScheduleTest, RetransmitsToEveryServerAfterEachWaitThenTimesOut) {
  ScriptedUdpPeer& first = StartPeer(kServerA);
  ScriptedUdpPeer& second = StartPeer(kServerB);
  // Each wait returns at once as if it had run out, once the peers have taken
  // in every transmission made so far: what a peer holds then went out before
  // that wait.
  std::mutex lock;
  std::vector<DWORD> waits;
  std::vector<std::size_t> receivedBeforeWait;
  auto wait = [&](KestMT::Event& p_event, DWORD p_dwWait, KestMT::Thread* p_pThread) {
    std::lock_guard<std::mutex> guard(lock);
    waits.push_back(p_dwWait);
    first.WaitForDatagrams(waits.size(), 5s);
    second.WaitForDatagrams(waits.size(), 5s);
    receivedBeforeWait.push_back(std::min(first.Received().size(), second.Received().size()));
    return p_event.Wait(0, p_pThread);
  };
  m_query = std::make_unique<DNSThread>(wait);
  m_query->RunQuery({kServerA, kServerB}, "silent.test", GetParam().timeout, false, false, 0, &m_listener);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_ERROR_TIMEOUT);
  EXPECT_TRUE(call.records.empty());

  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(waits, GetParam().waits);
  for (std::size_t i = 0; i < receivedBeforeWait.size(); ++i) {
    EXPECT_EQ(receivedBeforeWait[i], i + 1) << "transmissions before wait " << i;
  }
  // The time-out follows the last retransmission at once, so the peers may
  // still be taking it in.
  const std::size_t transmissions = GetParam().waits.size() + 1;
  first.WaitForDatagrams(transmissions, 5s);
  second.WaitForDatagrams(transmissions, 5s);
  const auto atFirst = first.Received();
  const auto atSecond = second.Received();
  ASSERT_EQ(atFirst.size(), transmissions);
  ASSERT_EQ(atSecond.size(), transmissions);
  for (std::size_t i = 0; i < transmissions; ++i) {
    // Every transmission has an ID of its own, and both servers get the same
    // message.
    EXPECT_EQ(atFirst[i].bytes, atSecond[i].bytes) << "transmission " << i;
    for (std::size_t j = 0; j < i; ++j) {
      EXPECT_NE(QueryOf(atFirst[i]).id, QueryOf(atFirst[j]).id) << "transmissions " << j << " and " << i;
    }
    EXPECT_EQ(QueryOf(atFirst[i]).name, "silent.test");
    EXPECT_EQ(QueryOf(atFirst[i]).flags, 0x0100);
  }
}

// Waits start at an eighth of the time-out, at least 500 ms, and double; the
// schedule ends once they add up to the time-out, after three at most.
INSTANTIATE_TEST_SUITE_P(Timeouts, DnsThreadScheduleTest,
                         ::testing::Values(ScheduleCase{5000, {625, 1250, 2500}},
                                           ScheduleCase{30000, {3750, 7500, 15000}},
                                           ScheduleCase{2000, {500, 1000, 2000}},
                                           ScheduleCase{1000, {500, 1000}},
                                           ScheduleCase{500, {500}}),
                         [](const auto& p_info) { return "Timeout" + std::to_string(p_info.param.timeout); });

TEST_F(DnsThreadTest, AbortDeliversAbortOnceWithNoRecords) {
  ScriptedUdpPeer& peer = StartPeer(kServerA);
  DNSThread& query = StartQuery({kServerA}, "abort.test", 30000);
  ASSERT_TRUE(peer.WaitForDatagrams(1, 5s));
  query.Abort(INFINITE);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_ERROR_ABORT);
  EXPECT_TRUE(call.records.empty());
  DWORD result = 0;
  DnsRecordList records;
  query.GetResults(result, records);
  EXPECT_EQ(result, DNS_ERROR_ABORT);
}

TEST_F(DnsThreadTest, AbortAfterTheOutcomeReportsNothingMore) {
  StartPeer(kServerA, AnswerWithAddress("10.3.3.3"));
  DNSThread& query = StartQuery({kServerA}, "done.test", 30000);
  ASSERT_TRUE(m_listener.WaitForCalls(1, 5s));
  query.Abort(INFINITE);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_SUCCESS);
}

TEST_F(DnsThreadTest, DestroyingARunningQueryReportsAbortOnce) {
  ScriptedUdpPeer& peer = StartPeer(kServerA);
  StartQuery({kServerA}, "destroyed.test", 30000);
  ASSERT_TRUE(peer.WaitForDatagrams(1, 5s));
  m_query.reset();
  const auto calls = m_listener.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].result, DNS_ERROR_ABORT);
}

TEST_F(DnsThreadTest, ReportsOnceWhenAnswersRaceTheTimeout) {
  // Answers to the retransmission arrive at about the moment the schedule
  // ends, duplicated; whichever comes first wins and nothing is reported twice.
  for (int round = 0; round < 5; ++round) {
    auto peer = std::make_unique<ScriptedUdpPeer>();
    std::string error;
    peer->SetScript([](const ReceivedDatagram& p_datagram) {
      const DnsBytes answer = DnsResponseBuilder(QueryOf(p_datagram)).A("", 1, "10.4.4.4").Build();
      return std::vector<ScriptedReply>{{answer, 0, 495ms}, {answer}, {answer}};
    });
    ASSERT_TRUE(peer->Start(kServerA, 53, error)) << error;
    RecordingListener listener;
    {
      DNSThread query;
      query.RunQuery({kServerA}, "race.test", 500, false, false, 0, &listener);
      ASSERT_TRUE(listener.WaitForCalls(1, 5s));
      ASSERT_TRUE(query.WaitForThreadToEnd(5000));
    }
    peer->Stop();
    const auto calls = listener.Calls();
    ASSERT_EQ(calls.size(), 1u) << "round " << round;
    EXPECT_TRUE(calls[0].result == DNS_SUCCESS || calls[0].result == DNS_ERROR_TIMEOUT);
  }
}

TEST_F(DnsThreadTest, NoUsableServerGivesInvalidObject) {
  StartQuery({"not-an-address"}, "nowhere.test", 5000);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.result, DNS_ERROR_INVALID_OBJECT);
  EXPECT_TRUE(call.records.empty());
}

TEST_F(DnsThreadTest, RefusesANameThatCannotBeWrittenWithoutReporting) {
  DNSThread query;
  EXPECT_THROW(query.RunQuery({kServerA}, std::string(64, 'x') + ".test", 5000, false, false, 0,
                              &m_listener),
               KestBase::InvalidParameterException);
  EXPECT_THROW(query.RunQuery({kServerA}, "a..b", 5000, false, false, 0, &m_listener),
               KestBase::InvalidParameterException);
  EXPECT_FALSE(query.IsRunning());
  EXPECT_TRUE(m_listener.Calls().empty());
}

TEST_F(DnsThreadTest, ASecondRunWhileRunningIsRefusedAndTheFirstGoesOn) {
  ScriptedUdpPeer& peer = StartPeer(kServerA);
  DNSThread& query = StartQuery({kServerA}, "first.test", 30000);
  ASSERT_TRUE(peer.WaitForDatagrams(1, 5s));
  EXPECT_THROW(query.RunQuery({kServerB}, "second.test", 500, false, false, 0, &m_listener),
               KestBase::InvalidOperationException);
  peer.SetScript(AnswerWithAddress("10.8.8.8"));
  query.Abort(INFINITE);
  const ListenerCall call = SingleReport();
  EXPECT_EQ(call.name, L"first.test");
  EXPECT_EQ(call.result, DNS_ERROR_ABORT);
}

TEST_F(DnsThreadTest, ASecondRunAfterTheFirstEndedQueriesAndReportsAgain) {
  StartPeer(kServerA, AnswerWithAddress("10.7.7.7"));
  DNSThread& query = StartQuery({kServerA}, "again.test", 5000);
  ASSERT_TRUE(m_listener.WaitForCalls(1, 5s));
  ASSERT_TRUE(query.WaitForThreadToEnd(5000));
  query.RunQuery({kServerA}, "again.test", 5000, false, false, 0, &m_listener);
  ASSERT_TRUE(m_listener.WaitForCalls(2, 5s));
  ASSERT_TRUE(query.WaitForThreadToEnd(5000));
  const auto calls = m_listener.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].result, DNS_SUCCESS);
  ASSERT_EQ(calls[1].records.size(), 1u);
  EXPECT_EQ(calls[1].records[0].address.ToString(), "10.7.7.7");
}

TEST_F(DnsThreadTest, AThrowingListenerStillEndsTheQuery) {
  StartPeer(kServerA, AnswerWithAddress("10.5.5.5"));
  m_listener.ThrowFromCallback();
  DNSThread& query = StartQuery({kServerA}, "throws.test", 30000);
  ASSERT_TRUE(m_listener.WaitForCalls(1, 5s));
  // The completion event was set despite the exception: Run ends long
  // before its 30-second schedule would.
  EXPECT_TRUE(query.WaitForThreadToEnd(5000));
  EXPECT_EQ(m_listener.Calls().size(), 1u);
}

TEST_F(DnsThreadTest, WithoutAListenerTheOutcomeIsKeptForGetResults) {
  StartPeer(kServerA, AnswerWithAddress("10.1.2.3"));
  m_query = std::make_unique<DNSThread>();
  m_query->RunQuery({kServerA}, "quiet.test", 5000, false, false, 0, nullptr);
  ASSERT_TRUE(m_query->WaitForThreadToEnd(10000));
  DWORD result = 99;
  DnsRecordList records;
  m_query->GetResults(result, records);
  EXPECT_EQ(result, DNS_SUCCESS);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].address.ToString(), "10.1.2.3");
  EXPECT_TRUE(m_listener.Calls().empty());
}

}  // namespace
}  // namespace KestNet::testing

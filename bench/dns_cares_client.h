// A minimal c-ares resolver for comparison benchmarks.
#pragma once

#include <chrono>
#include <string>
#include <vector>

struct ares_channeldata;

namespace kestnet::bench {

class CaresClient {
 public:
  using Clock = std::chrono::steady_clock;

  explicit CaresClient(const std::string& p_server);
  ~CaresClient();
  CaresClient(const CaresClient&) = delete;
  CaresClient& operator=(const CaresClient&) = delete;

  // Resolves one name's A records, waiting for the answer.
  bool Resolve(const std::string& p_name);

  // Starts every name at once on the one channel and drives it until all
  // have answered. p_latencies receives each name's time from its start to
  // its answer, in the order of p_names. The number of names that failed.
  int ResolveAll(const std::vector<std::string>& p_names, std::vector<Clock::duration>& p_latencies);

 private:
  // Runs the channel until no query is outstanding.
  void Drive();

  ares_channeldata* m_channel = nullptr;
};

}  // namespace kestnet::bench

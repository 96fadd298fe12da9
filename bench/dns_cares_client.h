// A minimal c-ares resolver for comparison benchmarks.
#pragma once

#include <string>

struct ares_channeldata;

namespace kestnet::bench {

class CaresClient {
 public:
  explicit CaresClient(const std::string& p_server);
  ~CaresClient();
  CaresClient(const CaresClient&) = delete;
  CaresClient& operator=(const CaresClient&) = delete;

  // Resolves one name's A records, waiting for the answer.
  bool Resolve(const std::string& p_name);

 private:
  ares_channeldata* m_channel = nullptr;
};

}  // namespace kestnet::bench

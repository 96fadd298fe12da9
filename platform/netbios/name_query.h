// One NetBIOS name query on one adapter: RFC 1002 broadcast name resolution
// as a B node does it, from a UDP socket bound to the adapter's interface and
// address, to the subnet's broadcast address on port 137.
//
// The query is sent up to three times, 250 ms apart, each time with a fresh
// transaction id; answers to any of them count, from whatever address they
// come, as long as they answer the question asked (ReadNameQueryResponse).
#pragma once

#include <optional>

#include "platform/netbios/lan_adapters.h"
#include "platform/netbios/name_message.h"

namespace kestnet::platform::netbios {

// The first positive answer, or nothing when no machine answered in time or
// the socket could not be made (p_bSocketFailed then tells which).
std::optional<NameQueryAnswer> QueryName(const LanAdapter& p_adapter, NetbiosName p_name, bool& p_bSocketFailed);

}  // namespace kestnet::platform::netbios

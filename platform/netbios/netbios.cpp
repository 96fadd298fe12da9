#include "platform/netbios/netbios.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "platform/netbios/lan_adapters.h"
#include "platform/netbios/name_query.h"

namespace {

namespace netbios = kestnet::platform::netbios;

using CommandHandler = UCHAR (*)(NCB&);

// NetBT's form of an IPv4 address where a NetBIOS frame has a MAC address.
void WriteNodeAddress(UCHAR (&p_node)[6], std::uint32_t p_address) {
  p_node[0] = 0;
  p_node[1] = 0;
  std::memcpy(&p_node[2], &p_address, sizeof(p_address));
}

std::optional<netbios::LanAdapter> AdapterOf(const NCB& p_ncb) {
  const std::vector<netbios::LanAdapter> adapters = netbios::EnumerateLanAdapters();
  if (p_ncb.ncb_lana_num >= adapters.size()) return std::nullopt;
  return adapters[p_ncb.ncb_lana_num];
}

UCHAR Enumerate(NCB& p_ncb) {
  if (p_ncb.ncb_buffer == nullptr || p_ncb.ncb_length < sizeof(LANA_ENUM)) return NRC_BUFLEN;
  LANA_ENUM lanas{};
  const std::size_t count = netbios::EnumerateLanAdapters().size();
  lanas.length = static_cast<UCHAR>(count);
  for (std::size_t lana = 0; lana < count; ++lana) lanas.lana[lana] = static_cast<UCHAR>(lana);
  std::memcpy(p_ncb.ncb_buffer, &lanas, sizeof(lanas));
  return NRC_GOODRET;
}

// NetBT keeps no sessions or names of ours to drop: resetting checks the
// adapter.
UCHAR Reset(NCB& p_ncb) { return AdapterOf(p_ncb) ? NRC_GOODRET : NRC_BRIDGE; }

UCHAR FindName(NCB& p_ncb) {
  const std::optional<netbios::LanAdapter> adapter = AdapterOf(p_ncb);
  if (!adapter) return NRC_BRIDGE;
  constexpr std::size_t kFirstEntry = sizeof(FIND_NAME_HEADER);
  if (p_ncb.ncb_buffer == nullptr || p_ncb.ncb_length < kFirstEntry + sizeof(FIND_NAME_BUFFER)) return NRC_BUFLEN;
  bool bSocketFailed = false;
  const std::optional<netbios::NameQueryAnswer> answer = netbios::QueryName(
      *adapter, std::span<const std::uint8_t, netbios::kNameLength>(p_ncb.ncb_callname), bSocketFailed);
  if (!answer) return bSocketFailed ? NRC_SYSTEM : NRC_CMDTMO;

  const std::size_t room = (p_ncb.ncb_length - kFirstEntry) / sizeof(FIND_NAME_BUFFER);
  const std::size_t count = std::min(room, answer->addresses.size());
  FIND_NAME_HEADER header{};
  header.node_count = static_cast<WORD>(count);
  header.unique_group = answer->bGroup ? 1 : 0;
  std::memcpy(p_ncb.ncb_buffer, &header, sizeof(header));
  for (std::size_t index = 0; index < count; ++index) {
    FIND_NAME_BUFFER entry{};
    entry.length = sizeof(FIND_NAME_BUFFER);
    WriteNodeAddress(entry.destination_addr, adapter->address);
    WriteNodeAddress(entry.source_addr, answer->addresses[index]);
    std::memcpy(p_ncb.ncb_buffer + kFirstEntry + index * sizeof(entry), &entry, sizeof(entry));
  }
  p_ncb.ncb_length = static_cast<WORD>(kFirstEntry + count * sizeof(FIND_NAME_BUFFER));
  return count < answer->addresses.size() ? NRC_INCOMP : NRC_GOODRET;
}

constexpr struct {
  UCHAR command;
  CommandHandler handler;
} kCommands[] = {
    {NCBENUM, Enumerate},
    {NCBRESET, Reset},
    {NCBFINDNAME, FindName},
};

}  // namespace

UCHAR Netbios(PNCB pcnb) {
  if (pcnb == nullptr) return NRC_INVADDRESS;
  // Commands run synchronously: ASYNCH and the other commands are not offered.
  const auto known = std::find_if(std::begin(kCommands), std::end(kCommands),
                                  [&](const auto& p_entry) { return p_entry.command == pcnb->ncb_command; });
  const UCHAR result = known == std::end(kCommands) ? NRC_ILLCMD : known->handler(*pcnb);
  pcnb->ncb_retcode = result;
  pcnb->ncb_cmd_cplt = result;
  return result;
}

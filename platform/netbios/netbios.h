// NetBIOS over TCP/IP name services in the shape of Win32's Netbios call
// (nb30.h): the network control block, the adapter enumeration and the
// find-name records, with Windows' command numbers and return codes.
//
// Adapters (LANA numbers) are the machine's IPv4 interfaces that are up and
// can broadcast, numbered from 0 in the order of their interface index, so
// the numbering stays the same while the interfaces do (lan_adapters.h).
//
//   NCBENUM      fills the LANA_ENUM at ncb_buffer with the adapter numbers.
//   NCBRESET     NRC_GOODRET for an adapter that exists.
//   NCBFINDNAME  asks the adapter's subnet for ncb_callname (16 bytes, the
//                16th being the service suffix) with an RFC 1002 name query
//                broadcast from that interface (name_query.h); the answer is
//                a FIND_NAME_HEADER followed by one FIND_NAME_BUFFER per
//                address, each address in the 6-byte form NetBT uses (two
//                zero bytes, then the IPv4 address in network order; the
//                destination is the adapter's own address), and ncb_length
//                is set to the bytes written. A name nobody answers for
//                gives NRC_CMDTMO, as Windows does; more addresses than the
//                buffer holds, NRC_INCOMP with those that fit; a socket the
//                system refuses, NRC_SYSTEM.
//
// An adapter number that does not exist gives NRC_BRIDGE, a buffer too small
// for the answer's first record (or for a LANA_ENUM) NRC_BUFLEN, a null NCB
// NRC_INVADDRESS. Commands run synchronously: ASYNCH, the post routine and
// the other commands are not offered (NRC_ILLCMD).
//
// Netbios returns the code it also stores in ncb_retcode and ncb_cmd_cplt.
// It keeps no state between calls and is safe to call from several threads
// at once.
#pragma once

#include "platform/os/win_types.h"

using UCHAR = unsigned char;
using PUCHAR = UCHAR*;

constexpr int NCBNAMSZ = 16;
constexpr int MAX_LANA = 254;

struct NCB {
  UCHAR ncb_command;
  UCHAR ncb_retcode;
  UCHAR ncb_lsn;
  UCHAR ncb_num;
  PUCHAR ncb_buffer;
  WORD ncb_length;
  UCHAR ncb_callname[NCBNAMSZ];
  UCHAR ncb_name[NCBNAMSZ];
  UCHAR ncb_rto;
  UCHAR ncb_sto;
  void(CALLBACK* ncb_post)(NCB*);
  UCHAR ncb_lana_num;
  UCHAR ncb_cmd_cplt;
  UCHAR ncb_reserve[18];
  HANDLE ncb_event;
};
using PNCB = NCB*;

struct LANA_ENUM {
  UCHAR length;
  UCHAR lana[MAX_LANA + 1];
};
using PLANA_ENUM = LANA_ENUM*;

struct FIND_NAME_HEADER {
  WORD node_count;
  UCHAR reserved;
  UCHAR unique_group;  // 0: a unique name, 1: a group name
};
using PFIND_NAME_HEADER = FIND_NAME_HEADER*;

struct FIND_NAME_BUFFER {
  UCHAR length;
  UCHAR access_control;
  UCHAR frame_control;
  UCHAR destination_addr[6];
  UCHAR source_addr[6];
  UCHAR routing_info[18];
};
using PFIND_NAME_BUFFER = FIND_NAME_BUFFER*;

// Commands (nb30.h).
constexpr UCHAR NCBCALL = 0x10;
constexpr UCHAR NCBLISTEN = 0x11;
constexpr UCHAR NCBHANGUP = 0x12;
constexpr UCHAR NCBSEND = 0x14;
constexpr UCHAR NCBRECV = 0x15;
constexpr UCHAR NCBRECVANY = 0x16;
constexpr UCHAR NCBCHAINSEND = 0x17;
constexpr UCHAR NCBDGSEND = 0x20;
constexpr UCHAR NCBDGRECV = 0x21;
constexpr UCHAR NCBDGSENDBC = 0x22;
constexpr UCHAR NCBDGRECVBC = 0x23;
constexpr UCHAR NCBADDNAME = 0x30;
constexpr UCHAR NCBDELNAME = 0x31;
constexpr UCHAR NCBRESET = 0x32;
constexpr UCHAR NCBASTAT = 0x33;
constexpr UCHAR NCBSSTAT = 0x34;
constexpr UCHAR NCBCANCEL = 0x35;
constexpr UCHAR NCBADDGRNAME = 0x36;
constexpr UCHAR NCBENUM = 0x37;
constexpr UCHAR NCBUNLINK = 0x70;
constexpr UCHAR NCBSENDNA = 0x71;
constexpr UCHAR NCBCHAINSENDNA = 0x72;
constexpr UCHAR NCBLANSTALERT = 0x73;
constexpr UCHAR NCBACTION = 0x77;
constexpr UCHAR NCBFINDNAME = 0x78;
constexpr UCHAR NCBTRACE = 0x79;
constexpr UCHAR ASYNCH = 0x80;

// Return codes (nb30.h).
constexpr UCHAR NRC_GOODRET = 0x00;
constexpr UCHAR NRC_BUFLEN = 0x01;
constexpr UCHAR NRC_ILLCMD = 0x03;
constexpr UCHAR NRC_CMDTMO = 0x05;
constexpr UCHAR NRC_INCOMP = 0x06;
constexpr UCHAR NRC_BADDR = 0x07;
constexpr UCHAR NRC_SNUMOUT = 0x08;
constexpr UCHAR NRC_NORES = 0x09;
constexpr UCHAR NRC_SCLOSED = 0x0a;
constexpr UCHAR NRC_CMDCAN = 0x0b;
constexpr UCHAR NRC_DUPNAME = 0x0d;
constexpr UCHAR NRC_NAMTFUL = 0x0e;
constexpr UCHAR NRC_ACTSES = 0x0f;
constexpr UCHAR NRC_LOCTFUL = 0x11;
constexpr UCHAR NRC_REMTFUL = 0x12;
constexpr UCHAR NRC_ILLNN = 0x13;
constexpr UCHAR NRC_NOCALL = 0x14;
constexpr UCHAR NRC_NOWILD = 0x15;
constexpr UCHAR NRC_INUSE = 0x16;
constexpr UCHAR NRC_NAMERR = 0x17;
constexpr UCHAR NRC_SABORT = 0x18;
constexpr UCHAR NRC_NAMCONF = 0x19;
constexpr UCHAR NRC_IFBUSY = 0x21;
constexpr UCHAR NRC_TOOMANY = 0x22;
constexpr UCHAR NRC_BRIDGE = 0x23;
constexpr UCHAR NRC_CANOCCR = 0x24;
constexpr UCHAR NRC_CANCEL = 0x26;
constexpr UCHAR NRC_DUPENV = 0x30;
constexpr UCHAR NRC_ENVNOTDEF = 0x34;
constexpr UCHAR NRC_OSRESNOTAV = 0x35;
constexpr UCHAR NRC_MAXAPPS = 0x36;
constexpr UCHAR NRC_NOSAPS = 0x37;
constexpr UCHAR NRC_NORESOURCES = 0x38;
constexpr UCHAR NRC_INVADDRESS = 0x39;
constexpr UCHAR NRC_INVDDID = 0x3b;
constexpr UCHAR NRC_LOCKFAIL = 0x3c;
constexpr UCHAR NRC_OPENERR = 0x3f;
constexpr UCHAR NRC_SYSTEM = 0x40;
constexpr UCHAR NRC_PENDING = 0xff;

UCHAR Netbios(PNCB pcnb);

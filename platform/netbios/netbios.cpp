#include "platform/netbios/netbios.h"

UCHAR Netbios(PNCB pcnb) {
  if (pcnb == nullptr) return NRC_BUFLEN;
  pcnb->ncb_retcode = NRC_ILLCMD;
  pcnb->ncb_cmd_cplt = NRC_ILLCMD;
  return NRC_ILLCMD;
}

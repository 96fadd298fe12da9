// Which Windows the system runs on: the version, one exact type number that
// every version gate of the system is answered from, and the 64-bit and WOW64
// questions.
//
// A Platform is a cheap value object: construct one on the stack, ask, drop
// it. Every operation runs a fresh version query; nothing is cached between
// objects. Failures are thrown as KestBase exceptions after being logged under
// "KestUtilsLib::Platform".
//
// Exact type numbers:
//    1 Windows 95            2 95 OSR2 ("B")        3 95 OSR2.5 ("C")
//    4 Windows 98            5 98 Second Edition    6 Windows Me
//    7-14  NT 4.0 and every NT version not classified below: 7 + service pack
//          (14 for pack 7 or later)
//   15-19 2000 Professional, 20-24 2000 Server, 25-29 2000 Advanced Server,
//   30-34 2000 Datacenter Server: base + service pack (base + 4 for pack 4 or later)
//   35 XP Home  36 XP Professional  37 XP Professional x64
//   38 Server 2003 Datacenter  39 Enterprise  40 Standard  41 Web Edition
//   42-46 Vista Home Basic, Home Premium, Business, Enterprise, Ultimate
//   47 any 6.x server
//   48 Windows 7 (other edition)  49-53 Home Basic, Home Premium,
//      Professional, Enterprise, Ultimate
#pragma once

#include "platform/os/win_types.h"

namespace KestUtilsLib {

class Platform {
 public:
  Platform() = default;

  DWORD MajorVersion() const;
  DWORD MinorVersion() const;
  // Service-pack number of an NT-family system (0 when the service text names
  // none); throws UnsupportedOSException on another family.
  INT NTSP() const;
  bool IsWOW64() const;
  // The edition (GetProductInfo's number, low byte) of a 6.x system, 0 when
  // unknown.
  WORD VistaProductInfo() const;
  // The exact type number above. May set native64.
  DWORD ExactType();

  bool IsVistaOrLater() const;
  bool IsWindows7OrLater() const;
  bool IsWin9x();
  bool IsWindowsMe();
  bool IsNT();
  bool IsNT4();
  bool IsXPHome();
  bool IsVista();
  // Exact type 37, or the native-architecture test that ExactType ran found
  // an AMD64 machine. Systems where the test does not run (6.x servers, 5.0,
  // 5.1) answer false whatever their architecture.
  bool Is64Bit();

 private:
  // Runs the native-architecture test; sets native64 on an AMD64 machine.
  // Returns the architecture found.
  WORD TestNativeArchitecture();

  // Set when the native-architecture test found AMD64; never reset.
  bool native64 = false;
};

// IsNT of a temporary Platform.
bool IsNTPlatform();

// The free version tests of the automation layer. Each reads the basic
// version record and answers false when the query fails.
bool IsWin9xPlatform();    // platform id 1
bool IsXPOrLaterNT();      // NT family, 5.1 or later
bool IsVistaOrLaterNT();   // NT family, 6.0 or later

}  // namespace KestUtilsLib

// Identifiers and dispids of the test server module (test_server.cpp), shared
// with the tests that drive it. The tests reach the server only through
// IDispatch, so nothing else of it is shared.
#pragma once

#include "platform/com/guid.h"

namespace kestnet::platform::testing {

inline constexpr CLSID CLSID_TestWidget = {0x6A1F0C2E, 0x3B5D, 0x4C8E, {0x9F, 0x10, 0x2D, 0x7E, 0x44, 0x81, 0xA6, 0x01}};
inline constexpr IID IID_ITestWidget = {0x6A1F0C2E, 0x3B5D, 0x4C8E, {0x9F, 0x10, 0x2D, 0x7E, 0x44, 0x81, 0xA6, 0x02}};
inline constexpr IID IID_ITestWidgetEvents = {0x6A1F0C2E, 0x3B5D, 0x4C8E, {0x9F, 0x10, 0x2D, 0x7E, 0x44, 0x81, 0xA6, 0x03}};
inline constexpr GUID LIBID_TestServer = {0x6A1F0C2E, 0x3B5D, 0x4C8E, {0x9F, 0x10, 0x2D, 0x7E, 0x44, 0x81, 0xA6, 0x04}};
inline constexpr GUID APPID_TestServer = {0x6A1F0C2E, 0x3B5D, 0x4C8E, {0x9F, 0x10, 0x2D, 0x7E, 0x44, 0x81, 0xA6, 0x05}};

inline constexpr const wchar_t* kTestWidgetProgId = L"KestTest.Widget";
inline constexpr const wchar_t* kTestWidgetVersionedProgId = L"KestTest.Widget.1";

// ITestWidget
constexpr LONG kDispName = 1;
constexpr LONG kDispCount = 2;
constexpr LONG kDispShortValue = 3;
constexpr LONG kDispConcat = 4;
constexpr LONG kDispAddNumbers = 5;
constexpr LONG kDispDescribe = 6;
constexpr LONG kDispIsMissing = 7;
constexpr LONG kDispNameOf = 8;
constexpr LONG kDispFail = 9;
constexpr LONG kDispFireEvents = 10;
constexpr LONG kDispScale = 11;
constexpr LONG kDispGreeting = 12;

// ITestWidgetEvents
constexpr LONG kDispOnTick = 1;
constexpr LONG kDispOnDone = 2;

// Extra export of the module: the outer unknown its factory last received.
using TestServerLastOuterFunction = void* (*)();

}  // namespace kestnet::platform::testing

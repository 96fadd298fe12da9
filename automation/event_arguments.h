// The argument list of a fired event: VARIANTs built in declaration order and
// handed to the sinks last parameter first (the DISPPARAMS order), with no
// named arguments. Owns every value it holds.
#pragma once

#include <string>
#include <vector>

#include "platform/com/dispatch.h"

namespace KestAXLib {

class EventArguments {
 public:
  EventArguments() = default;
  ~EventArguments();
  EventArguments(const EventArguments&) = delete;
  EventArguments& operator=(const EventArguments&) = delete;

  // Each appends the next parameter. Text that cannot be allocated throws
  // ATL::CAtlException(E_OUTOFMEMORY).
  EventArguments& AddShort(SHORT value);
  EventArguments& AddLong(LONG value);
  EventArguments& AddInt(INT value);  // VT_INT
  EventArguments& AddULong(ULONG value);
  EventArguments& AddBool(VARIANT_BOOL value);
  EventArguments& AddText(const wchar_t* text);  // null is an empty text
  EventArguments& AddText(const std::wstring& text);
  EventArguments& AddBstr(BSTR text);  // its full length, embedded nulls included
  EventArguments& AddDispatch(IDispatch* object);  // a reference is taken
  EventArguments& AddVariant(const VARIANT& value);  // copied

  // Valid until the next Add or the end of this object.
  DISPPARAMS* Params();

 private:
  VARIANT& Next();
  EventArguments& AddTextOfLength(const wchar_t* text, UINT length);

  std::vector<VARIANT> declared_;  // in declaration order
  std::vector<VARIANT> reversed_;  // shallow copies handed to the sinks
  DISPPARAMS params_{};
};

}  // namespace KestAXLib

// Pieces shared by the script host's source files: the per-run state, value
// conversion between JavaScript and VARIANT, wrapped automation objects and
// event sinks. Everything here runs on the apartment thread of the run.
#pragma once

#include <duktape.h>

#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "host/script_host.h"
#include "platform/com/com.h"

namespace kestnet::host::script {

class EventSink;

// One connection made by WScript.CreateObject(progid, prefix) or
// WScript.ConnectObject: undone by DisconnectObject or at the end of the run.
struct Connection {
  ATL::CComPtr<IUnknown> objectIdentity;
  ATL::CComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  EventSink* sink = nullptr;  // one reference, released with the connection
};

// The state of one run. Owned by RunScript; the duktape heap reaches it
// through its user data pointer.
struct RunState {
  duk_context* ctx = nullptr;
  std::string scriptName;
  const std::vector<std::string>* arguments = nullptr;  // the caller's, outliving the run (a body may be megabytes)
  const std::vector<HostFunction>* hostFunctions = nullptr;  // the verb's, outliving the run
  bool hostObject = false;  // Host (WaitForEvents and the verb's functions) is defined
  std::FILE* out = nullptr;
  std::FILE* err = nullptr;
  ATL::CComPtr<IUnknown> site;  // null without --site
  std::vector<Connection> connections;

  // Set when the run must end: by WScript.Quit, or by an error in an event
  // handler (which has no script caller to throw to). Every native entry
  // point throws again while it is set, so a script's catch cannot keep a
  // quitting run alive.
  enum class Ending { kNone, kQuit, kError };
  Ending ending = Ending::kNone;
  int quitCode = 0;
  std::string endingMessage;  // the formatted error for kError
  // A failure on its way to becoming a script Error: kept here, not on a
  // C++ frame, because raising it leaves by longjmp.
  std::string pendingMessage;
  std::string pendingDescription;
};

RunState& StateOf(duk_context* ctx);

// Errors. duktape throws with longjmp, which would skip C++ destructors, so
// native code never lets duktape throw across its own frames: it throws a
// ScriptFailure (a C++ exception), and Native<> -- the only function duktape
// calls -- turns it into a script Error after every C++ object is gone.
//
// `message` is what the uncaught-error line shows ("Member: description" for
// a failed member); `description` is the failure's own text, which scripts
// read as e.description and compare.
struct ScriptFailure {
  std::string message;
  std::string description;
  HRESULT hr = E_FAIL;
};
// A failure of the host itself: its message is its description.
[[noreturn]] void Fail(std::string message, HRESULT hr = E_FAIL);
// Fails for an unsuccessful Invoke with the EXCEPINFO description when the
// object gave one, otherwise a text for the HRESULT; frees the EXCEPINFO texts.
[[noreturn]] void FailInvoke(const std::wstring& member, HRESULT hr, EXCEPINFO& excep);
std::string HResultDescription(HRESULT hr);
// UTF-8 text in the form duktape keeps strings in (see Text below).
std::string ScriptForm(std::string_view utf8);

// Raises the failure as an Error blamed on the calling script line, with
// `number` (the HRESULT) and `description`, as script engines report them.
// Both texts are in the script's form (ScriptForm) and must outlive the
// longjmp: literals or the run state's pending texts.
[[noreturn]] void RaiseScriptError(duk_context* ctx, const char* message, const char* description, HRESULT hr);

template <duk_ret_t (*Body)(duk_context*)>
duk_ret_t Native(duk_context* ctx) {
  duk_ret_t result = 0;
  bool failed = false;
  HRESULT hr = S_OK;
  try {
    if (StateOf(ctx).ending != RunState::Ending::kNone) Fail("the script is ending", E_ABORT);
    result = Body(ctx);
  } catch (const ScriptFailure& failure) {
    try {
      RunState& state = StateOf(ctx);
      state.pendingMessage = ScriptForm(failure.message);
      state.pendingDescription = ScriptForm(failure.description);
      failed = true;
      hr = failure.hr;
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  // Every C++ object of this call is gone; duk_throw may leave by longjmp.
  if (failed) {
    const RunState& state = StateOf(ctx);
    RaiseScriptError(ctx, state.pendingMessage.c_str(), state.pendingDescription.c_str(), hr);
  }
  if (hr == E_OUTOFMEMORY) RaiseScriptError(ctx, "Out of memory", "Out of memory", hr);
  return result;
}
// "file(line): name: message" for a thrown value at the top of the stack.
std::string DescribeError(duk_context* ctx, duk_idx_t index, const std::string& scriptName);

// Values. PushVariant leaves one JavaScript value (or fails).
// ConvertArgument fills `out` (VariantInit'ed by the caller, who clears it
// whatever the outcome) from the script value at `index`; a value that has
// no automation form -- a function, an array nested deeper than
// kMaxArrayNesting or holding itself -- fails with its reason.
//
// Arrays nest at most this deep either way: deep enough for any table a
// script builds, shallow enough that the conversion's recursion stays small.
inline constexpr int kMaxArrayNesting = 64;
void PushVariant(duk_context* ctx, const VARIANT& value);
void ConvertArgument(duk_context* ctx, duk_idx_t index, VARIANT* out, const std::string& what);

// Text. duktape keeps strings in CESU-8 (a character above U+FFFF is a
// surrogate pair); the host's own texts are UTF-8 and automation's wchar_t.
std::string Utf8(const wchar_t* text, size_t length);
std::wstring Wide(const char* text);  // a script string
std::string ScriptTextUtf8(duk_context* ctx, duk_idx_t index);  // any value, as ToString gives it
void PushText(duk_context* ctx, std::wstring_view text);
void PushUtf8Text(duk_context* ctx, std::string_view text);

// Wrapped automation objects: a Proxy whose property reads and writes become
// GetIDsOfNames/Invoke calls. The wrapper holds one reference until the
// script lets go of it (or the heap is destroyed).
void PushDispatch(duk_context* ctx, IDispatch* object);
// The object behind a wrapper, or null when the value is not one (no reference added).
IDispatch* DispatchOf(duk_context* ctx, duk_idx_t index);
void RegisterDispatchSupport(duk_context* ctx);

// Creates the object of `progid` (giving it the run's site when there is
// one) and returns it with one reference; fails with a clear message.
IDispatch* CreateScriptObject(duk_context* ctx, const std::string& progid);

// Events: advise a sink on the object's default source interface; calls go
// to global functions named prefix + event name.
void ConnectEvents(duk_context* ctx, IDispatch* object, const std::string& prefix);
// Undoes every connection made for `object`; returns how many there were.
size_t DisconnectEvents(RunState& state, IDispatch* object);
void DisconnectAll(RunState& state);

// The site given with --site: an IServiceProvider leading to a browser
// whose LocationURL is `url`. Returned with one reference.
IUnknown* CreateWebPageSite(const std::wstring& url);

}  // namespace kestnet::host::script

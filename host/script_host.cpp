// One run of a script: the duktape heap, the WScript object and
// ActiveXObject, and the pump that lets events in while the script sleeps.
#include "host/script_host.h"

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/script_internal.h"
#include "platform/msg/message.h"

namespace kestnet::host {
namespace {

using namespace script;  // NOLINT: the host's own pieces

std::string ArgumentText(duk_context* ctx, duk_idx_t index) { return ScriptTextUtf8(ctx, index); }

std::string RequireText(duk_context* ctx, duk_idx_t index, const char* what) {
  if (!duk_is_string(ctx, index) || duk_get_length(ctx, index) == 0) {
    Fail(std::string(what) + " must be a non-empty string", E_INVALIDARG);
  }
  return ArgumentText(ctx, index);
}

// WScript.Echo(values...): the values separated by spaces, then a new line.
duk_ret_t EchoBody(duk_context* ctx) {
  RunState& state = StateOf(ctx);
  std::string line;
  duk_idx_t count = duk_get_top(ctx);
  for (duk_idx_t i = 0; i < count; ++i) {
    if (i > 0) line += ' ';
    line += ArgumentText(ctx, i);
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), state.out);
  std::fflush(state.out);
  return 0;
}

// Dispatches the apartment's messages until the deadline, so that posted
// events reach their handlers; with p_bUntilDispatched, returns as soon as one
// message has been dispatched. True when one was.
bool PumpMessages(RunState& state, std::chrono::steady_clock::time_point deadline, bool p_bUntilDispatched) {
  bool dispatched = false;
  for (;;) {
    MSG message{};
    while (state.ending == RunState::Ending::kNone && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
      dispatched = true;
    }
    if (state.ending != RunState::Ending::kNone) Fail("the script is ending", E_ABORT);
    if (dispatched && p_bUntilDispatched) return true;
    auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (remaining <= 0) return dispatched;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(remaining), QS_ALLINPUT);
  }
}

std::chrono::steady_clock::time_point DeadlineAfter(duk_context* ctx, const char* p_szWho) {
  if (!duk_is_number(ctx, 0) || !(duk_get_number(ctx, 0) >= 0)) {
    Fail(std::string(p_szWho) + ": the time must be a number of milliseconds, 0 or more", E_INVALIDARG);
  }
  double milliseconds = duk_get_number(ctx, 0);
  if (milliseconds > 2147483647.0) milliseconds = 2147483647.0;
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long long>(milliseconds));
}

// WScript.Sleep(ms): waits while dispatching the apartment's messages.
duk_ret_t SleepBody(duk_context* ctx) {
  PumpMessages(StateOf(ctx), DeadlineAfter(ctx, "WScript.Sleep"), false);
  return 0;
}

// Host.WaitForEvents(ms): as WScript.Sleep, but back as soon as a message
// (an event, mostly) has been dispatched; true when one was. A verb's script
// waits for an outcome with it instead of sleeping in fixed steps, which
// would add a step's time to every exchange.
duk_ret_t WaitForEventsBody(duk_context* ctx) {
  duk_push_boolean(ctx, PumpMessages(StateOf(ctx), DeadlineAfter(ctx, "Host.WaitForEvents"), true) ? 1 : 0);
  return 1;
}

duk_ret_t QuitBody(duk_context* ctx) {
  RunState& state = StateOf(ctx);
  state.quitCode = duk_is_number(ctx, 0) ? duk_get_int(ctx, 0) : 0;
  state.ending = RunState::Ending::kQuit;
  Fail("the script is ending", E_ABORT);
}

// WScript.CreateObject(progid[, prefix]) and new ActiveXObject(progid).
duk_ret_t CreateObjectBody(duk_context* ctx) {
  std::string progid = RequireText(ctx, 0, "The ProgID");
  std::string prefix;
  if (!duk_is_undefined(ctx, 1)) prefix = RequireText(ctx, 1, "The event prefix");
  ATL::CComPtr<IDispatch> object;
  object.Attach(CreateScriptObject(ctx, progid));
  if (!prefix.empty()) ConnectEvents(ctx, object, prefix);
  PushDispatch(ctx, object);
  return 1;
}

duk_ret_t ActiveXObjectBody(duk_context* ctx) {
  std::string progid = RequireText(ctx, 0, "The ProgID");
  ATL::CComPtr<IDispatch> object;
  object.Attach(CreateScriptObject(ctx, progid));
  PushDispatch(ctx, object);
  return 1;  // a constructor returning an object makes it the result of `new`
}

IDispatch* RequireObject(duk_context* ctx, duk_idx_t index, const char* function) {
  IDispatch* object = DispatchOf(ctx, index);
  if (object == nullptr) Fail(std::string(function) + ": the first argument must be an automation object", E_INVALIDARG);
  return object;
}

duk_ret_t ConnectObjectBody(duk_context* ctx) {
  IDispatch* object = RequireObject(ctx, 0, "WScript.ConnectObject");
  std::string prefix = RequireText(ctx, 1, "The event prefix");
  ConnectEvents(ctx, object, prefix);
  return 0;
}

duk_ret_t DisconnectObjectBody(duk_context* ctx) {
  // An object that is not connected has nothing to undo, as with Windows
  // Script Host.
  DisconnectEvents(StateOf(ctx), RequireObject(ctx, 0, "WScript.DisconnectObject"));
  return 0;
}

// WScript.Arguments.Item(i) and Count().
duk_ret_t ArgumentsItemBody(duk_context* ctx) {
  RunState& state = StateOf(ctx);
  double index = duk_is_number(ctx, 0) ? duk_get_number(ctx, 0) : -1;
  if (!(index >= 0) || index >= static_cast<double>(state.arguments->size()) ||
      static_cast<double>(static_cast<size_t>(index)) != index) {
    Fail("WScript.Arguments.Item: subscript out of range", DISP_E_BADINDEX);
  }
  PushUtf8Text(ctx, (*state.arguments)[static_cast<size_t>(index)]);
  return 1;
}

duk_ret_t ArgumentsCountBody(duk_context* ctx) {
  duk_push_uint(ctx, static_cast<duk_uint_t>(StateOf(ctx).arguments->size()));
  return 1;
}

// Host.<name>(values...): the verb's function, found by the magic number
// its duktape function carries.
duk_ret_t HostFunctionBody(duk_context* ctx) {
  const RunState& state = StateOf(ctx);
  const HostFunction& function = (*state.hostFunctions)[static_cast<size_t>(duk_get_current_magic(ctx))];
  std::vector<std::string> arguments;
  duk_idx_t count = duk_get_top(ctx);
  for (duk_idx_t i = 0; i < count; ++i) arguments.push_back(ArgumentText(ctx, i));
  std::string result;
  if (!function.call(arguments, result)) Fail("Host." + function.name + ": " + result);
  PushUtf8Text(ctx, result);
  return 1;
}

void PutFunction(duk_context* ctx, const char* name, duk_c_function function, duk_idx_t arguments) {
  duk_push_c_function(ctx, function, arguments);
  duk_put_prop_string(ctx, -2, name);
}

void PutText(duk_context* ctx, const char* name, const std::string& value) {
  PushUtf8Text(ctx, value);
  duk_put_prop_string(ctx, -2, name);
}

void DefineGlobals(duk_context* ctx, const RunState& state, const std::string& fullName) {
  duk_push_global_object(ctx);
  duk_push_object(ctx);  // WScript
  PutFunction(ctx, "Echo", Native<EchoBody>, DUK_VARARGS);
  PutFunction(ctx, "Sleep", Native<SleepBody>, 1);
  PutFunction(ctx, "Quit", Native<QuitBody>, 1);
  PutFunction(ctx, "CreateObject", Native<CreateObjectBody>, 2);
  PutFunction(ctx, "ConnectObject", Native<ConnectObjectBody>, 2);
  PutFunction(ctx, "DisconnectObject", Native<DisconnectObjectBody>, 1);
  PutText(ctx, "Name", "kestnet");
  PutText(ctx, "ScriptName", std::filesystem::path(state.scriptName).filename().string());
  PutText(ctx, "ScriptFullName", fullName);

  // Arguments: a collection as script hosts have it -- Count(), Item(i) and
  // callable as Arguments(i) -- that also reads like a JavaScript array
  // (length, [i]).
  duk_push_c_function(ctx, Native<ArgumentsItemBody>, 1);
  for (size_t i = 0; i < state.arguments->size(); ++i) {
    PushUtf8Text(ctx, (*state.arguments)[i]);
    duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(i));
  }
  duk_push_string(ctx, "length");
  duk_push_uint(ctx, static_cast<duk_uint_t>(state.arguments->size()));
  duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_CLEAR_WRITABLE | DUK_DEFPROP_FORCE);
  PutFunction(ctx, "Item", Native<ArgumentsItemBody>, 1);
  PutFunction(ctx, "Count", Native<ArgumentsCountBody>, 0);
  duk_put_prop_string(ctx, -2, "Arguments");
  duk_put_prop_string(ctx, -2, "WScript");

  PutFunction(ctx, "ActiveXObject", Native<ActiveXObjectBody>, 1);

  if (state.hostObject) {
    duk_push_object(ctx);  // Host
    for (size_t i = 0; i < state.hostFunctions->size(); ++i) {
      duk_push_c_function(ctx, Native<HostFunctionBody>, DUK_VARARGS);
      duk_set_magic(ctx, -1, static_cast<duk_int_t>(i));
      duk_put_prop_string(ctx, -2, (*state.hostFunctions)[i].name.c_str());
    }
    PutFunction(ctx, "WaitForEvents", Native<WaitForEventsBody>, 1);
    duk_put_prop_string(ctx, -2, "Host");
  }
  duk_pop(ctx);
}

void FatalHandler(void*, const char* message) {
  // duktape calls this only for errors outside any protected call, which
  // RunScript never makes; there is no way to continue.
  std::fprintf(stderr, "kestnet: script engine failure: %s\n", message == nullptr ? "" : message);
  std::abort();
}

bool ReadFile(const std::string& path, std::string* content, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open '" + path + "'";
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) {
    *error = "cannot read '" + path + "'";
    return false;
  }
  *content = buffer.str();
  // A byte order mark is not part of the program.
  if (content->rfind("\xEF\xBB\xBF", 0) == 0) content->erase(0, 3);
  return true;
}

// Compiles and runs the program at the top of the stack; true on success,
// otherwise the error value is left at the top.
duk_ret_t CompileAndRun(duk_context* ctx, void*) {
  // [source filename]
  duk_compile(ctx, 0);
  duk_call(ctx, 0);
  return 0;
}

}  // namespace

int RunScript(const ScriptOptions& options, std::FILE* out, std::FILE* err) {
  std::string source = options.source;
  std::string error;
  if (source.empty() && !ReadFile(options.scriptPath, &source, &error)) {
    std::fprintf(err, "kestnet run: %s\n", error.c_str());
    return 1;
  }
  RunState state;
  state.scriptName = options.scriptPath;
  state.arguments = &options.arguments;
  state.hostFunctions = &options.hostFunctions;
  state.hostObject = options.hostObject || !options.hostFunctions.empty();
  state.out = out;
  state.err = err;
  if (!options.siteUrl.empty()) state.site.Attach(CreateWebPageSite(Wide(options.siteUrl.c_str())));

  state.ctx = duk_create_heap(nullptr, nullptr, nullptr, &state, FatalHandler);
  if (state.ctx == nullptr) {
    std::fprintf(err, "kestnet run: cannot create the script engine\n");
    return 1;
  }
  duk_context* ctx = state.ctx;
  std::error_code ignored;
  std::string fullName = std::filesystem::absolute(options.scriptPath, ignored).string();
  RegisterDispatchSupport(ctx);
  DefineGlobals(ctx, state, fullName);

  duk_push_lstring(ctx, source.data(), source.size());
  duk_push_string(ctx, options.scriptPath.c_str());
  int exitCode = 0;
  if (duk_safe_call(ctx, CompileAndRun, nullptr, 2, 1) != DUK_EXEC_SUCCESS) {
    if (state.ending == RunState::Ending::kNone) {
      std::string description = DescribeError(ctx, -1, state.scriptName);
      std::fprintf(err, "%s\n", description.c_str());
      exitCode = 1;
    }
  }
  duk_pop(ctx);
  if (state.ending == RunState::Ending::kQuit) exitCode = state.quitCode;
  if (state.ending == RunState::Ending::kError) {
    std::fprintf(err, "%s\n", state.endingMessage.c_str());
    exitCode = 1;
  }
  std::fflush(out);
  // No event may reach the script while its heap goes; the heap's
  // finalizers then release every object the script still held.
  DisconnectAll(state);
  state.ending = RunState::Ending::kQuit;
  duk_destroy_heap(ctx);
  state.ctx = nullptr;
  return exitCode;
}

}  // namespace kestnet::host

// ScriptEngine: our interpreter for the VBScript subset that pages are
// written in, with the host contract a page host needs:
//   1. AddNamedItem for each host object (Response, Request, Server, FTS);
//      an item added with `global_members` also answers bare names
//      (QueryString("q") means Request.QueryString("q")).
//   2. Parse the whole script text. A syntax error is reported through the
//      error callback and nothing of the script runs.
//   3. Run it once. An unhandled run-time error is reported through the
//      callback (once) and the script stops.
//
// One engine runs one script on one thread; create a fresh engine per
// request. Objects added as named items, and those the script creates, are
// released by Close() or the destructor.
//
// The whole language runs, Class blocks, Eval/Execute/ExecuteGlobal,
// GetRef and RegExp included; the decisions for each are written beside
// it (class_instance.h, interpreter_dynamic.cpp, regexp.h).
//
// Decisions where the language reference leaves room:
//   - A run that exceeds its step or time budget stops with HRESULT E_ABORT;
//     On Error Resume Next cannot catch it (a runaway loop under Resume Next
//     would otherwise go on). Recursion and stack limits raise error 28,
//     which scripts may handle.
//   - A ByRef argument that is an array element (`Inc a(1)`) is copied in
//     and written back after the call, so a ReDim in the callee can never
//     leave a reference into freed storage.
//   - Names are bound once, after parsing: an undeclared name assigned in a
//     procedure is a global if the script level declares or assigns that
//     name anywhere, else a local of the procedure.
//   - Arguments to host objects are passed by value (no host member writes
//     back through its arguments).
//   - Dictionaries and class instances the script created and that hold
//     each other in a cycle are emptied by Close() once nothing outside the
//     engine holds them, so reference cycles do not leak. Class_Terminate
//     runs while the script runs and for the script's own variables at the
//     end of Run; not for objects freed by Close (as on the platform, a
//     cycle never terminates) or dropped by the host after Run.
//   - Code given to Execute, ExecuteGlobal or Eval, and RegExp matching,
//     run under the same step, time, depth and stack limits as the page.
//   - `x = Nothing` (Let of Nothing) is error 91 "Object variable not set".
//   - Exit Do inside While ... Wend leaves the enclosing Do.
//
// Thread safety: none; distinct engines may run on distinct threads.
#ifndef LUN_PAGES_SCRIPT_SCRIPT_ENGINE_H_
#define LUN_PAGES_SCRIPT_SCRIPT_ENGINE_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "automation/dispatch.h"

namespace lun {

// What the host learns about an unhandled error.
struct ScriptErrorInfo {
  bool compile_error = false;
  int line = 0;    // 0-based physical line in the script text
  int column = 0;  // 0-based position in that line
  // VBScript's number (13, 1002 ...); for a host error that is not a
  // FACILITY_CONTROL code, the HRESULT as a signed value.
  int number = 0;
  HResult hresult = 0;         // 0x800A0000 + number, or the host's code
  std::u16string source;       // "Microsoft VBScript runtime error" ...
  std::u16string description;  // e.g. "Type mismatch: 'CInt'"
  std::u16string source_line;  // the whole physical line, no line break
};

// The text a page host shows: "Script error detected at line N." then
// "\nSource line: " + line (when there is one) and "\nDescription: " +
// description (when there is one). UTF-8.
std::string FormatScriptError(const ScriptErrorInfo& error);

// Run-time limits that keep a bad script from taking the process down.
// Exceeding a limit is a script error, never a crash.
struct ScriptLimits {
  // Nested procedure calls; deeper is error 28 "Out of stack space".
  int max_call_depth = 1000;
  // Machine stack the interpreter may use below the point where Parse/Run
  // was called (deep expressions, recursion); beyond it is error 28 (or
  // compile error 1001 while parsing). The calling thread needs this much
  // stack plus a margin.
  std::size_t stack_bytes = 2 * 1024 * 1024;
  // Statements a run may execute; 0 means no limit.
  std::uint64_t max_steps = 0;
  // Wall-clock time a run may take; zero means no limit.
  std::chrono::milliseconds time_budget{0};
  // A flag the host raises to stop every run at once (the application's
  // shutdown); null: none. Checked with the clock, every 256 statements.
  const std::atomic<bool>* stop = nullptr;
  // Longest string a script may build (error 14 beyond it), in UTF-16 units.
  std::size_t max_string_length = std::size_t{1} << 26;
  // Most elements in one array (error 7 beyond it).
  std::size_t max_array_elements = std::size_t{1} << 24;
};

// Makes a new object for CreateObject.
using ObjectFactory = std::function<std::shared_ptr<Dispatch>()>;

class ScriptEngine {
 public:
  using ErrorCallback = std::function<void(const ScriptErrorInfo&)>;

  // "Scripting.Dictionary" is registered for CreateObject from the start.
  ScriptEngine();
  ~ScriptEngine();
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  void SetLimits(const ScriptLimits& limits);
  void SetErrorCallback(ErrorCallback callback);

  // Publishes `object` under `name` (compared without ASCII case). Must be
  // called before Parse. Returns false for an empty name, a null object or
  // a name already added.
  bool AddNamedItem(std::u16string_view name, std::shared_ptr<Dispatch> object,
                    bool global_members);

  // Makes CreateObject(prog_id) (compared without ASCII case) call
  // `factory`. An unknown ProgID is error 429.
  void RegisterObject(std::u16string_view prog_id, ObjectFactory factory);

  // Parses the whole script. False (after reporting the error) on a syntax
  // error; Run then does nothing and returns false.
  bool Parse(std::u16string_view script);

  // Runs the parsed script once. True when it ended without an unhandled
  // error. Calling Run twice, or without a successful Parse, returns false.
  bool Run();

  // The last error reported, if any (also given to the callback).
  const ScriptErrorInfo* last_error() const;

  // Releases every object the engine holds (variables, named items).
  void Close();

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace lun

#endif  // LUN_PAGES_SCRIPT_SCRIPT_ENGINE_H_

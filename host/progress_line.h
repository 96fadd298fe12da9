// The one changing progress line a verb shows on standard error while it
// waits (a mail transfer, a browse list).
#pragma once

#include <string>
#include <vector>

#include "host/script_host.h"

namespace kestnet::host {

// Shows one changing progress line on standard error: rewritten in place on
// a terminal, one line each otherwise. Silent when not enabled.
class ProgressLine {
 public:
  explicit ProgressLine(bool enabled);
  ~ProgressLine();  // ends a line left open on a terminal
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Show(const std::string& text);
  // Ends an open terminal line so that other output starts on a fresh one.
  void Break();

 private:
  bool m_enabled;
  bool m_terminal;
  bool m_lineOpen = false;
};

// The two functions a verb lends its script to speak on standard error:
// Host.Report(text...) prints "kestnet VERB: text" lines (a failure the
// script explains) and Host.Progress(text) shows text on progress. Both
// refer to progress, which must outlive the script's run.
std::vector<HostFunction> ReportAndProgressFunctions(ProgressLine& progress, const char* verb);

}  // namespace kestnet::host

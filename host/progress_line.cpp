#include "host/progress_line.h"

#include <unistd.h>

#include <cstdio>

namespace kestnet::host {

ProgressLine::ProgressLine(bool enabled) : m_enabled(enabled), m_terminal(isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() { Break(); }

void ProgressLine::Show(const std::string& text) {
  if (!m_enabled) return;
  if (m_terminal) {
    // Carriage return, the text, then erase what a longer line left.
    std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
    m_lineOpen = true;
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  std::fflush(stderr);
}

void ProgressLine::Break() {
  if (!m_lineOpen) return;
  std::fputc('\n', stderr);
  m_lineOpen = false;
}

std::vector<HostFunction> ReportAndProgressFunctions(ProgressLine& progress, const char* verb) {
  std::vector<HostFunction> functions;
  functions.push_back({"Report", [&progress, verb](const std::vector<std::string>& texts, std::string&) {
                         progress.Break();
                         for (const std::string& text : texts) std::fprintf(stderr, "kestnet %s: %s\n", verb, text.c_str());
                         return true;
                       }});
  functions.push_back({"Progress", [&progress](const std::vector<std::string>& texts, std::string&) {
                         if (!texts.empty()) progress.Show(texts.front());
                         return true;
                       }});
  return functions;
}

}  // namespace kestnet::host

// kestnet log: shows the shared log ring of every process of this scope, and
// writes entries into it.
//
//   kestnet log [-n N] [--follow]
//   kestnet log --write CLASS LEVEL MESSAGE
//
// Entries are copied out of the ring under its named mutex, so a line is never
// half one entry and half the next; when writers wrap the ring faster than a
// follower reads it, the follower says how many entries it lost.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "host/verbs.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/log_ring_reader.h"
#include "runtime/logger.h"

namespace kestnet::host {
namespace {

constexpr const char* kUsage =
    "usage: kestnet log [-n N] [--follow]\n"
    "       kestnet log --write CLASS LEVEL MESSAGE\n"
    "       kestnet log --reload\n"
    "\n"
    "Shows the shared log ring that every KestNetX process of this KESTNET_HOME\n"
    "writes to, oldest entry first, one entry per line:\n"
    "  time  process  pid  tid  class  level  message\n"
    "\n"
    "  -n N          show only the newest N entries (default: all the ring holds)\n"
    "  -f, --follow  keep printing new entries as they are written, until\n"
    "                interrupted; holds the ring open meanwhile (creating it when\n"
    "                no process has yet)\n"
    "  --write CLASS LEVEL MESSAGE\n"
    "                log one entry: CLASS is the component (e.g. KestNet::Demo),\n"
    "                LEVEL 0 error, 1 warning, 2 information, 3 detail, 4 trace\n"
    "                (0-255); a level-0 entry is also copied to the critical file\n"
    "  --reload      make every process that logs into the ring read its logger\n"
    "                settings (HKCU\\SOFTWARE\\Tolvar\\Pelwick\\Logger) again\n"
    "  -h, --help    show this text\n";

// How often a follower looks at the write counter.
constexpr long kFollowPollMilliseconds = 100;

struct Options {
  std::optional<std::uint32_t> newest;
  bool follow = false;
  bool write = false;
  bool reload = false;
  std::string writeClass;
  unsigned writeLevel = 0;
  std::string writeMessage;
};

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "kestnet log: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

// A whole decimal number within [minimum, maximum], nothing else.
bool ParseNumber(const std::string& text, unsigned long minimum, unsigned long maximum,
                 unsigned long& value) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  value = std::strtoul(text.c_str(), nullptr, 10);
  return value >= minimum && value <= maximum;
}

// Returns 0 when parsed, else the exit code (usage printed).
int ParseOptions(const VerbArguments& args, Options& options, bool& helpShown) {
  helpShown = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      helpShown = true;
      return 0;
    }
    if (arg == "-f" || arg == "--follow") {
      options.follow = true;
    } else if (arg == "-n") {
      if (i + 1 >= args.size()) return UsageError("-n needs a number");
      unsigned long count = 0;
      if (!ParseNumber(args[++i], 1, KestLog::kMaxLogEntryCount, count)) {
        return UsageError("-n wants a positive number of entries, not '" + args[i] + "'");
      }
      options.newest = static_cast<std::uint32_t>(count);
    } else if (arg == "--reload") {
      options.reload = true;
    } else if (arg == "--write") {
      if (i + 3 >= args.size()) return UsageError("--write needs CLASS LEVEL MESSAGE");
      options.write = true;
      options.writeClass = args[++i];
      unsigned long level = 0;
      if (!ParseNumber(args[++i], 0, 255, level)) {
        return UsageError("LEVEL must be a number from 0 to 255, not '" + args[i] + "'");
      }
      options.writeLevel = static_cast<unsigned>(level);
      options.writeMessage = args[++i];
      if (options.writeClass.empty()) return UsageError("CLASS must not be empty");
    } else {
      return UsageError("unknown argument '" + arg + "'");
    }
  }
  if ((options.write || options.reload) && (options.follow || options.newest)) {
    return UsageError("--write and --reload cannot be combined with -n or --follow");
  }
  if (options.write && options.reload) {
    return UsageError("--write and --reload are separate requests");
  }
  return 0;
}

// Control characters in a message (from a server reply, say) are shown
// escaped, so that an entry is one line and cannot drive the terminal.
std::string Printable(const char* text) {
  static constexpr struct {
    char character;
    const char* escape;
  } kNamedEscapes[] = {{'\n', "\\n"}, {'\r', "\\r"}, {'\t', "\\t"}};
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c != 0x7F) {
      out += static_cast<char>(c);
      continue;
    }
    const char* named = nullptr;
    for (const auto& escape : kNamedEscapes) {
      if (escape.character == *p) named = escape.escape;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    out += named != nullptr ? named : hex;
  }
  return out;
}

void PrintEntry(const KestLog::LogEntry& entry) {
  std::printf("%s  %s  pid %u  tid %u  %s  level %u  %s\n",
              KestLog::FormatEntryTime(entry.time).c_str(), Printable(entry.processName).c_str(),
              entry.processId, entry.threadId, Printable(entry.className).c_str(), entry.level,
              Printable(entry.message).c_str());
}

void PrintRead(const KestLog::LogRingRead& read) {
  if (read.missed > 0) {
    std::printf("--- %u entries were overwritten before they could be shown ---\n", read.missed);
  }
  for (const KestLog::LogEntry& entry : read.entries) PrintEntry(entry);
  std::fflush(stdout);
}

int WriteEntry(const Options& options) {
  // The message is data, not a format: every '%' stands for itself.
  std::string format;
  for (char c : options.writeMessage) {
    format += c;
    if (c == '%') format += '%';
  }
  Log(options.writeClass.c_str(), static_cast<BYTE>(options.writeLevel), format.c_str());
  return 0;
}

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

void SleepMilliseconds(long milliseconds) {
  timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  nanosleep(&pause, nullptr);  // an interrupting signal ends it early, as wanted
}

int Follow(std::unique_ptr<KestLog::LogRingReader> reader, std::uint32_t nextIndex) {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  while (g_interrupted == 0) {
    SleepMilliseconds(kFollowPollMilliseconds);
    if (g_interrupted != 0) break;
    try {
      PrintRead(reader->ReadSince(&nextIndex));
    } catch (const KestBase::BaseException&) {
      // The mutex stayed busy for seconds; the next look reports any loss.
    }
  }
  return 0;
}

}  // namespace

int RunLogVerb(const VerbArguments& args) {
  Options options;
  bool helpShown = false;
  if (int code = ParseOptions(args, options, helpShown); code != 0 || helpShown) return code;
  if (options.write) return WriteEntry(options);
  if (options.reload) {
    KestLog::LogRingOpenFailure why = KestLog::LogRingOpenFailure::kNone;
    if (KestLog::AnnounceLogSettingsChange(&why)) return 0;
    std::fprintf(stderr, "kestnet log: %s\n", KestLog::DescribeLogRingOpenFailure(why));
    return 1;
  }

  KestLog::LogRingOpenFailure why = KestLog::LogRingOpenFailure::kNone;
  std::unique_ptr<KestLog::LogRingReader> reader = KestLog::LogRingReader::OpenExisting(&why);
  // A follower keeps the ring alive for the short-lived processes it watches:
  // with no ring yet, it holds one open itself, made as any logger makes it.
  std::unique_ptr<KestLog::Logger> holder;
  if (!reader && options.follow && why == KestLog::LogRingOpenFailure::kMissing) {
    std::fprintf(stderr, "kestnet log: no log ring exists yet; holding one open for new entries\n");
    holder = std::make_unique<KestLog::Logger>();
    if (holder->Attach()) reader = KestLog::LogRingReader::OpenExisting(&why);
  }
  if (!reader) {
    std::fprintf(stderr, "kestnet log: %s\n", KestLog::DescribeLogRingOpenFailure(why));
    return 1;
  }

  std::uint32_t nextIndex = 0;
  try {
    const std::uint32_t count = options.newest.value_or(reader->GetEntryCount());
    KestLog::LogRingRead read = reader->ReadNewest(count);
    nextIndex = read.firstIndex + static_cast<std::uint32_t>(read.entries.size());
    PrintRead(read);
  } catch (const KestBase::BaseException&) {
    std::fprintf(stderr, "kestnet log: the log ring's mutex stayed busy; try again\n");
    return 1;
  }
  if (!options.follow) return 0;
  return Follow(std::move(reader), nextIndex);
}

}  // namespace kestnet::host

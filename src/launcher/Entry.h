#pragma once
// The entry point's decision: which of the process's lives the command line asks for.
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelto {

// What a verb handler gets: the program element as typed and the vector after the verb
// (ServiceName first when one was given).
struct VerbCall {
  std::u16string program;
  std::vector<std::u16string> args;
};
using VerbHandler = int (*)(VerbCall& call);  // returns the process exit code

struct VerbEntry {
  std::u16string_view name;  // compared exactly, case-sensitively
  VerbHandler handler;
  bool takesOptions = false;  // a first word starting with "--" is an option, not the service name
  std::u16string_view words;  // what follows the verb in the usage text
  std::u16string_view what;   // its line of the usage text; empty: an alias, left out of it
};

enum class EntryRoute {
  Restart,             // child of the service: launch(true)
  Verb,                // a verb of the table
  Dispatcher,          // no verb: the process was started by the service manager
  UnknownVerb,         // a first word after "/" or "-" that is no verb of the table
  ServiceNameTooLong,  // the word after the verb does not fit ServiceName's room
};

struct EntryDecision {
  EntryRoute route = EntryRoute::Dispatcher;
  std::u16string verb;            // without its "/", "-" or "--"; empty when none was written
  std::u16string word;            // the verb as written
  VerbHandler handler = nullptr;  // set for EntryRoute::Verb
  bool serviceNameGiven = false;  // the word after the verb replaces ServiceName
  std::u16string serviceName;
  VerbCall call;
};

// The verb written in an argument after "/", "-" or "--"; false when it starts with neither.
bool verbOfArgument(std::u16string_view argument, std::u16string& verb);

// Decides on the split command line (program first). Pure: it changes no process state.
EntryDecision decideEntry(std::vector<std::u16string> argv, std::span<const VerbEntry> verbs);

// Exit code of a command line the launcher does not understand.
constexpr int ExitUsage = 2;

// The usage line for a module file name: every verb of the table. full: one line per verb with
// its words, the install options and the exit codes (the help verbs).
std::u16string usageText(std::u16string_view moduleFileName, std::span<const VerbEntry> verbs, bool full);
// An unknown verb's message: its word, the nearest verb when one is close (another case, or up to
// two letters off), then the usage line.
std::u16string unknownVerbText(std::u16string_view word, std::u16string_view moduleFileName,
                               std::span<const VerbEntry> verbs);
// The verb of the table nearest to a mistyped one; empty when none is close.
std::u16string_view nearestVerb(std::u16string_view verb, std::span<const VerbEntry> verbs);
// Base name without directory and extension, at most 255 code units.
std::u16string moduleBaseName(std::u16string_view moduleFileName);

// The verbs of the launcher, one line each in VerbsWin.cpp (Windows).
std::span<const VerbEntry> verbTable();
// This executable's file name as the system gives it (Windows; defined beside the log, which
// names it in its first line).
std::u16string moduleFileName();

// The whole entry point on a process command line; returns the exit code (Windows).
int runEntry(std::u16string_view commandLine);

}  // namespace pelto

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
};

enum class EntryRoute {
  Restart,             // child of the service: launch(true)
  Verb,                // a verb of the table
  Dispatcher,          // no verb, or one that is not in the table
  ServiceNameTooLong,  // the word after the verb does not fit ServiceName's room
};

struct EntryDecision {
  EntryRoute route = EntryRoute::Dispatcher;
  std::u16string verb;            // without its "/", "-" or "--"; empty when none was written
  VerbHandler handler = nullptr;  // set for EntryRoute::Verb
  bool serviceNameGiven = false;  // the word after the verb replaces ServiceName
  std::u16string serviceName;
  VerbCall call;
};

// The verb written in an argument after "/", "-" or "--"; false when it starts with neither.
bool verbOfArgument(std::u16string_view argument, std::u16string& verb);

// Decides on the split command line (program first). Pure: it changes no process state.
EntryDecision decideEntry(std::vector<std::u16string> argv, std::span<const VerbEntry> verbs);

// The usage line of "?" and "help" for a module file name.
std::u16string usageLine(std::u16string_view moduleFileName);
// Base name without directory and extension, at most 255 code units.
std::u16string moduleBaseName(std::u16string_view moduleFileName);

// The verbs of the launcher, one line each in VerbsWin.cpp (Windows).
std::span<const VerbEntry> verbTable();

// The whole entry point on a process command line; returns the exit code (Windows).
int runEntry(std::u16string_view commandLine);

}  // namespace pelto

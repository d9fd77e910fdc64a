#include "launcher/Entry.h"

#include "launcher/CommandLine.h"

namespace pelto {

bool verbOfArgument(std::u16string_view argument, std::u16string& verb) {
  if (argument.empty() || (argument[0] != u'/' && argument[0] != u'-')) return false;
  std::size_t skip = (argument.size() > 1 && argument[1] == u'-') ? 2 : 1;
  verb.assign(argument.substr(skip));
  return true;
}

EntryDecision decideEntry(std::vector<std::u16string> argv, std::span<const VerbEntry> verbs) {
  EntryDecision d;
  if (!argv.empty()) {
    d.call.program = std::move(argv.front());
    argv.erase(argv.begin());
  }
  d.call.args = std::move(argv);
  auto& args = d.call.args;

  if (!args.empty() && args.back() == RestartMarker) {
    args.pop_back();
    d.route = EntryRoute::Restart;
    return d;
  }

  if (args.empty() || !verbOfArgument(args.front(), d.verb)) return d;  // dispatcher
  args.erase(args.begin());
  const VerbEntry* verb = nullptr;
  for (const VerbEntry& v : verbs)
    if (v.name == d.verb) verb = &v;
  if (!args.empty() && !(verb && verb->takesOptions && args.front().starts_with(u"--"))) {
    // Cutting a service name would address a different service; refuse it instead.
    if (args.front().size() > ServiceNameRoom - 1) {
      d.route = EntryRoute::ServiceNameTooLong;
      return d;
    }
    d.serviceNameGiven = true;
    d.serviceName = args.front();
  }
  if (verb) {
    d.route = EntryRoute::Verb;
    d.handler = verb->handler;
  }
  return d;
}

std::u16string moduleBaseName(std::u16string_view moduleFileName) {
  std::size_t slash = moduleFileName.find_last_of(u"\\/:");
  std::u16string_view base =
      slash == std::u16string_view::npos ? moduleFileName : moduleFileName.substr(slash + 1);
  std::size_t dot = base.rfind(u'.');
  if (dot != std::u16string_view::npos) base = base.substr(0, dot);
  if (base.size() > 255) base = base.substr(0, 255);
  return std::u16string(base);
}

std::u16string usageLine(std::u16string_view moduleFileName) {
  return u"Usage: " + moduleBaseName(moduleFileName) +
         u".exe /install | /uninstall | /stop | /start | /status | /run | /run-redirect\n";
}

}  // namespace pelto

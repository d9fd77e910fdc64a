#include "launcher/Entry.h"

#include <algorithm>

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
  d.word = std::move(args.front());
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
  } else {
    // A mistyped verb must not fall through to the dispatcher: from a console that fails after
    // a long wait and looked like success to scripts.
    d.route = EntryRoute::UnknownVerb;
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

namespace {

char16_t lowerAscii(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Letters to insert, delete or change to turn a into b, ASCII case ignored.
std::size_t editDistance(std::u16string_view a, std::u16string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t up = row[j];
      std::size_t change = diagonal + (lowerAscii(a[i - 1]) != lowerAscii(b[j - 1]));
      row[j] = std::min({up + 1, row[j - 1] + 1, change});
      diagonal = up;
    }
  }
  return row[b.size()];
}

}  // namespace

std::u16string_view nearestVerb(std::u16string_view verb, std::span<const VerbEntry> verbs) {
  std::u16string_view best;
  std::size_t bestDistance = verb.size() < 4 ? 2 : 3;  // a short word is close to everything
  for (const VerbEntry& v : verbs) {
    if (v.what.empty()) continue;
    std::size_t d = editDistance(verb, v.name);
    if (d < bestDistance) best = v.name, bestDistance = d;
  }
  return best;
}

std::u16string usageText(std::u16string_view moduleFileName, std::span<const VerbEntry> verbs, bool full) {
  const std::u16string exe = moduleBaseName(moduleFileName) + u".exe";
  std::u16string text = u"Usage: " + exe;
  const char16_t* separator = u" ";
  for (const VerbEntry& v : verbs) {
    if (v.what.empty()) continue;
    text += separator;
    text += u"/";
    text += v.name;
    separator = u" | ";
  }
  text += u"\n";
  if (!full) return text;
  for (const VerbEntry& v : verbs) {
    if (v.what.empty()) continue;
    std::u16string left =
        u"  /" + std::u16string(v.name) + (v.words.empty() ? u"" : u" ") + std::u16string(v.words);
    left.resize(std::max<std::size_t>(left.size() + 1, 46), u' ');
    text += left + std::u16string(v.what) + u"\n";
  }
  text +=
      u"NAME is the service's name (the packed one when left out). Verbs may be written after /, - or --.\n"
      u"OPTIONS of the install verbs, over the packed values:\n"
      u"  --account A       LocalSystem, LocalService, NetworkService, virtual, DOMAIN\\user, DOMAIN\\gmsa$\n"
      u"  --start S         demand, auto, delayed-auto, disabled\n"
      u"  --display-name D  the name the Services console shows\n"
      u"Exit codes: 0 done (or nothing to do), 1 failed, 2 wrong command line, 3 (/status) not running,\n"
      u"  4 (install verbs) installed, but some settings were refused (each is printed).\n";
  return text;
}

std::u16string unknownVerbText(std::u16string_view word, std::u16string_view moduleFileName,
                               std::span<const VerbEntry> verbs) {
  std::u16string verb;
  verbOfArgument(word, verb);
  std::u16string text = u"Unknown verb \"" + std::u16string(word) + u"\"";
  std::u16string_view near = nearestVerb(verb, verbs);
  if (!near.empty()) text += u": did you mean /" + std::u16string(near) + u"?";
  text += u"\n" + usageText(moduleFileName, verbs, false);
  text += u"Run " + moduleBaseName(moduleFileName) + u".exe /help for the options and exit codes.\n";
  return text;
}

}  // namespace pelto

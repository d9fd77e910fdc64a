#pragma once
// The one command-line splitting rule, and the process-wide state of the entry point.
#include <string>
#include <string_view>
#include <vector>

namespace pelto {

// Appends the arguments of a command-line text. Only the space separates (tabs do not); a
// single or double quote groups up to the next quote of the same kind (or the end of the
// text); text before an opening quote belongs to the quoted argument, a quote glued to a
// closing quote continues it, other text glued to a closing quote starts a new one; there are
// no backslash escapes.
template <class Char>
void splitCommandLineT(std::basic_string_view<Char> text, std::vector<std::basic_string<Char>>& out) {
  using View = std::basic_string_view<Char>;
  constexpr auto none = View::npos;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const View rest = text.substr(pos);
    if (rest.front() == Char(' ')) {
      ++pos;
      continue;
    }
    const std::size_t dq = rest.find(Char('"'));
    const std::size_t sq = rest.find(Char('\''));
    const std::size_t sp = rest.find(Char(' '));
    if (sp != none && sp < dq && sp < sq) {
      out.emplace_back(rest.substr(0, sp));
      pos += sp + 1;
      continue;
    }
    Char quote;
    std::size_t open;
    if (dq != none && dq < sq) {
      quote = Char('"');
      open = dq;
    } else if (sq != none) {
      quote = Char('\'');
      open = sq;
    } else {
      out.emplace_back(rest);
      return;
    }
    std::basic_string<Char> arg(rest.substr(0, open));
    std::size_t close = rest.find(quote, open + 1);
    // A closing quote met at once by an opening one of either kind goes on with the same
    // argument: the one way to write an argument holding both kinds of quote.
    while (close != none) {
      arg.append(rest.substr(open + 1, close - open - 1));
      if (close + 1 >= rest.size() || (rest[close + 1] != Char('"') && rest[close + 1] != Char('\''))) break;
      open = close + 1;
      quote = rest[open];
      close = rest.find(quote, open + 1);
    }
    if (close == none) {
      arg.append(rest.substr(open + 1));
      out.push_back(std::move(arg));
      return;
    }
    out.push_back(std::move(arg));
    // A space right after the closing quote is the separator; anything else starts a new word.
    pos += (close + 1 < rest.size() && rest[close + 1] == Char(' ')) ? close + 2 : close + 1;
  }
}

void splitCommandLine(std::u16string_view text, std::vector<std::u16string>& out);
void splitCommandLine(std::string_view text, std::vector<std::string>& out);

// The argument written so that splitCommandLine reads it back exactly, whatever it holds (an
// empty one included): always quoted, in double quotes until a double quote comes, which then
// goes into single quotes glued on, and so on.
std::u16string quoteArgument(std::u16string_view argument);

extern std::u16string ServiceName;  // at most ServiceNameRoom-1 code units
extern bool ServiceMode;            // on from the first instruction; off for the run verbs
extern bool NoRedirect;             // on for the verb "run"

constexpr std::size_t ServiceNameRoom = 6000;
constexpr const char16_t* RestartMarker = u"__qvx_restart";

}  // namespace pelto

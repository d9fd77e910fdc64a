#include "launcher/Log.h"

#include <cstdio>
#include <vector>

#include "env/TextConv.h"

namespace pelto {
namespace {

LogCapture& capture() {
  static LogCapture c;
  return c;
}

void appendAscii(std::u16string& out, const char* text) {
  for (; *text; ++text) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*text)));
}

void appendArg(std::u16string& out, char16_t directive, const LogArg& a) {
  char buf[64];
  switch (a.kind) {
    case LogArg::Kind::Wide:
      out.append(a.wide);
      return;
    case LogArg::Kind::Narrow:
      out.append(ansiToWide(a.narrow));
      return;
    case LogArg::Kind::Pointer:
      std::snprintf(buf, sizeof buf, "%016llX",
                    static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(a.ptr)));
      break;
    case LogArg::Kind::Int:
      if (directive == 'c') {
        out.push_back(static_cast<char16_t>(a.i));
        return;
      }
      if (directive == 'x' || directive == 'p')
        std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(a.i));
      else
        std::snprintf(buf, sizeof buf, "%lld", a.i);
      break;
    case LogArg::Kind::Unsigned:
      if (directive == 'c') {
        out.push_back(static_cast<char16_t>(a.u));
        return;
      }
      std::snprintf(buf, sizeof buf, directive == 'x' || directive == 'p' ? "%llx" : "%llu", a.u);
      break;
  }
  appendAscii(out, buf);
}

}  // namespace

std::u16string formatLogText(std::u16string_view format, std::initializer_list<LogArg> args) {
  std::u16string out;
  out.reserve(format.size() + 32);
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    char16_t c = format[i];
    if (c != u'%' || i + 1 >= format.size()) {
      out.push_back(c);
      continue;
    }
    char16_t d = format[++i];
    if (d == u'%') {
      out.push_back(u'%');
      continue;
    }
    // %I64d and %I64u: the width prefix carries no information beyond the argument's own type.
    if (d == u'I' && format.substr(i, 3) == u"I64" && i + 3 < format.size()) {
      i += 3;
      d = format[i];
    }
    // %ld, %lu, %ls: the length modifier is redundant for the same reason.
    if ((d == u'l' || d == u'h') && i + 1 < format.size()) d = format[++i];
    if (next != args.end()) appendArg(out, d, *next++);
  }
  return out;
}

void setLogCapture(LogCapture c) { capture() = std::move(c); }

void logLine(bool isError, std::u16string_view format, std::initializer_list<LogArg> args) {
  std::u16string text = formatLogText(format, args);
  if (capture()) capture()(isError, text);
  writeLogFileLine(isError, text);
}

}  // namespace pelto

#include "launcher/Log.h"

#include <charconv>
#include <vector>

#include "env/TextConv.h"

namespace pelto {
namespace {

LogCapture& capture() {
  static LogCapture c;
  return c;
}

// Digits through std::to_chars: the C library's printf family would bring its whole formatter
// (floating point included) into the launcher for a handful of integers.
void appendNumber(std::u16string& out, unsigned long long value, int base, bool upper, int width = 0) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, base);
  (void)ec;  // 32 characters hold any 64-bit value in base 10 or 16
  for (int pad = width - static_cast<int>(end - buf); pad > 0; --pad) out.push_back(u'0');
  for (const char* p = buf; p != end; ++p) {
    char c = *p;
    if (upper && c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    out.push_back(static_cast<char16_t>(c));
  }
}

void appendSigned(std::u16string& out, long long value) {
  if (value < 0) {
    out.push_back(u'-');
    // Negated in unsigned arithmetic, so the most negative value has a magnitude too.
    appendNumber(out, 0ull - static_cast<unsigned long long>(value), 10, false);
  } else {
    appendNumber(out, static_cast<unsigned long long>(value), 10, false);
  }
}

void appendArg(std::u16string& out, char16_t directive, const LogArg& a) {
  bool hex = directive == 'x' || directive == 'p';
  switch (a.kind) {
    case LogArg::Kind::Wide:
      out.append(a.wide);
      return;
    case LogArg::Kind::Narrow:
      out.append(ansiToWide(a.narrow));
      return;
    case LogArg::Kind::Pointer:
      appendNumber(out, static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(a.ptr)), 16, true,
                   16);
      return;
    case LogArg::Kind::Int:
      if (directive == 'c') {
        out.push_back(static_cast<char16_t>(a.i));
        return;
      }
      if (hex)
        appendNumber(out, static_cast<unsigned long long>(a.i), 16, false);
      else
        appendSigned(out, a.i);
      return;
    case LogArg::Kind::Unsigned:
      if (directive == 'c') {
        out.push_back(static_cast<char16_t>(a.u));
        return;
      }
      appendNumber(out, a.u, hex ? 16 : 10, false);
      return;
  }
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

void setLogCapture(LogCapture c) {
  capture() = std::move(c);
}

void logLine(bool isError, std::u16string_view format, std::initializer_list<LogArg> args) {
  std::u16string text = formatLogText(format, args);
  if (capture()) capture()(isError, text);
  writeLogFileLine(isError, text);
}

}  // namespace pelto

namespace pelto {

std::u16string formatLogRecord(bool isError, std::int32_t elapsedMs, std::u16string_view text) {
  std::u16string out = formatLogText(u"[%d:%d] ", {elapsedMs / 1000, elapsedMs % 1000});
  if (isError) out += u"ERROR: ";
  out += text;
  out += u'\n';
  return out;
}

std::u16string formatLogStartLine(std::u16string_view executable, std::string_view ctimeText) {
  return formatLogText(u"Started executable %s at %S\n", {executable, ctimeText});
}

std::u16string logFileName(std::u16string_view directory, int n) {
  return formatLogText(u"%sqvx_nlog_%d.log", {directory, n});
}

}  // namespace pelto

#include "service/ServiceInstall.h"

#include <algorithm>

#include "launcher/Config.h"
#include "launcher/ConfigIds.h"
#include "service/Supervision.h"

namespace pelto {
namespace {

// Account and right names are compared as Windows compares them: ASCII letters without case.
bool sameLetters(std::u16string_view a, std::u16string_view b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

// One text of several parts: messages are built here rather than by chains of operator+.
std::u16string joined(std::initializer_list<std::u16string_view> parts) {
  std::u16string text;
  for (std::u16string_view part : parts) text += part;
  return text;
}

std::u16string quoted(std::u16string_view text) {
  return joined({u"\"", text, u"\""});
}

std::u16string widened(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

// A decimal number within 32 bits, nothing else (no sign, no spaces).
bool parseUnsigned(std::string_view text, std::uint32_t& value) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFu) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

const std::u16string_view StartTypesHint = u": use demand, auto, delayed-auto or disabled.";

}  // namespace

bool parseStartType(std::u16string_view text, StartChoice& choice) {
  if (text == u"demand") {
    choice = {DemandStart, false};
  } else if (text == u"auto") {
    choice = {AutoStart, false};
  } else if (text == u"delayed-auto") {
    choice = {AutoStart, true};
  } else if (text == u"disabled") {
    choice = {DisabledStart, false};
  } else {
    return false;
  }
  return true;
}

bool isInstallOption(std::u16string_view word) {
  return word.starts_with(u"--");
}

bool parseInstallOptions(std::span<const std::u16string> words, InstallOptions& options,
                         std::u16string& error) {
  struct Option {
    std::u16string_view name;
    std::u16string InstallOptions::*value;
  };
  static const Option known[] = {{u"--account", &InstallOptions::account},
                                 {u"--start", &InstallOptions::start},
                                 {u"--display-name", &InstallOptions::displayName}};
  std::size_t i = 0;
  while (i < words.size() && isInstallOption(words[i])) {
    const std::u16string& word = words[i++];
    if (word == u"--") break;
    const Option* option = nullptr;
    for (const Option& o : known)
      if (o.name == word) option = &o;
    if (!option) {
      error = joined({u"Unknown option ", quoted(word), u" (options: --account, --start, --display-name)."});
      return false;
    }
    if (i == words.size() || isInstallOption(words[i]) || words[i].empty()) {
      error = joined({u"The option ", word, u" needs a value."});
      return false;
    }
    options.*(option->value) = words[i++];
  }
  options.rest.assign(words.begin() + static_cast<std::ptrdiff_t>(i), words.end());
  return true;
}

bool chooseStartType(std::u16string_view option, const StartChoice* verbChoice, std::u16string_view packed,
                     long executableType, StartChoice& choice, std::u16string& error) {
  if (!option.empty()) {
    if (parseStartType(option, choice)) return true;
    error = joined({u"Unknown start type ", quoted(option), StartTypesHint});
    return false;
  }
  if (verbChoice) {
    choice = *verbChoice;
    return true;
  }
  if (packed.empty()) {
    choice = {installStartType(executableType), false};
    return true;
  }
  if (parseStartType(packed, choice)) return true;
  error = joined({u"The packed start type ", quoted(packed), u" is not valid", StartTypesHint});
  return false;
}

namespace {

// The part after a leading "PREFIX\", ASCII case ignored; false when text does not start so.
bool afterPrefix(std::u16string_view text, std::u16string_view prefix, std::u16string_view& rest) {
  if (text.size() < prefix.size() || !sameLetters(text.substr(0, prefix.size()), prefix)) return false;
  rest = text.substr(prefix.size());
  return true;
}

}  // namespace

bool resolveAccount(std::u16string_view text, std::u16string_view serviceName, ServiceAccount& account,
                    std::u16string& error) {
  account = {};
  std::u16string_view rest;
  if (afterPrefix(text, u"NT AUTHORITY\\", rest)) text = rest;  // the built-in accounts typed in full
  if (text.empty() || sameLetters(text, u"LocalSystem")) return true;
  if (sameLetters(text, u"LocalService") || sameLetters(text, u"NetworkService")) {
    account.objectName =
        joined({u"NT AUTHORITY\\", sameLetters(text, u"LocalService") ? u"LocalService" : u"NetworkService"});
  } else if (sameLetters(text, u"virtual")) {
    account.objectName = joined({u"NT SERVICE\\", serviceName});
  } else if (afterPrefix(text, u"NT SERVICE\\", rest) && !rest.empty()) {
    account.objectName = joined({u"NT SERVICE\\", rest});  // a virtual account typed in full
  } else if (text.find(u'\\') != std::u16string_view::npos && text.size() > 1 && text.back() == u'$') {
    account.objectName = text;
    account.managed = true;
  } else if (text.find_first_of(u"\\@") != std::u16string_view::npos) {
    account.objectName = text;
    account.named = true;
  } else {
    error = joined({u"Unknown account ", quoted(text),
                    u": use LocalSystem, LocalService, NetworkService, virtual or DOMAIN\\user."});
    return false;
  }
  return true;
}

std::u16string accountLookupName(std::u16string_view objectName, std::u16string_view computerName) {
  if (objectName.starts_with(u".\\")) return joined({computerName, objectName.substr(1)});
  return std::u16string(objectName);
}

bool lacksServiceLogonRight(std::span<const std::u16string> rights) {
  return std::none_of(rights.begin(), rights.end(),
                      [](const std::u16string& r) { return sameLetters(r, u"SeServiceLogonRight"); });
}

std::u16string logonRightRefusal(int sidNameUse) {
  static const char16_t* const kinds[] = {u"",
                                          u"a user account",
                                          u"a group",
                                          u"a domain",
                                          u"an alias",
                                          u"a well-known group",
                                          u"a deleted account",
                                          u"an invalid name",
                                          u"of an unknown kind",
                                          u"a computer",
                                          u"a label"};
  if (sidNameUse == 1) return {};
  const char16_t* kind = sidNameUse > 1 && sidNameUse < 11 ? kinds[sidNameUse] : kinds[8];
  return joined({u"it is ", kind, u", not a user account"});
}

bool planFailureActions(std::string_view delays, std::string_view resetSeconds, FailureActionsPlan& plan,
                        std::u16string& error) {
  plan = {};
  if (delays.empty()) return true;
  if (!resetSeconds.empty() && !parseUnsigned(resetSeconds, plan.resetPeriod)) {
    error = joined({u"The packed failure count reset period ", quoted(widened(resetSeconds)),
                    u" is not a number of seconds."});
    return false;
  }
  std::size_t pos = 0;
  while (pos <= delays.size()) {
    std::size_t comma = std::min(delays.find(',', pos), delays.size());
    std::string_view item = delays.substr(pos, comma - pos);
    FailureAction action;
    if (!parseUnsigned(item, action.delayMs) || plan.actions.size() == MaxRestartDelays) {
      error = joined({u"The packed restart delays ", quoted(widened(delays)), u" are not up to ",
                      widened(std::to_string(MaxRestartDelays)),
                      u" numbers of milliseconds separated by \",\"."});
      plan.actions.clear();
      return false;
    }
    plan.actions.push_back(action);
    pos = comma + 1;
  }
  return true;
}

std::u16string describeFailureActions(const FailureActionsPlan& plan) {
  std::u16string text = u"restart after ";
  for (std::size_t i = 0; i < plan.actions.size(); ++i) {
    if (i) text += u", ";
    text += widened(std::to_string(plan.actions[i].delayMs));
    text += u" ms";
  }
  text += u" (the last repeats); failure count reset after ";
  text += widened(std::to_string(plan.resetPeriod));
  text += u" s";
  return text;
}

bool planInstall(const InstallOptions& options, const StartChoice* verbChoice,
                 std::u16string_view serviceName, InstallPlan& plan, std::u16string& error) {
  plan = {};
  const std::u16string packedStart = getConfigStringW(config_id::ServiceStartType);
  if (!chooseStartType(options.start, verbChoice, packedStart, getConfigInt(107), plan.start, error))
    return false;
  plan.displayName =
      options.displayName.empty() ? getConfigWideString(config_id::ServiceDisplayName) : options.displayName;
  if (plan.displayName.empty()) plan.displayName = serviceName;
  const std::u16string account =
      options.account.empty() ? getConfigStringW(config_id::ServiceAccount) : options.account;
  if (!resolveAccount(account, serviceName, plan.account, error)) return false;
  if (plan.account.named) plan.passwordVariable = getConfigStringW(config_id::ServicePasswordEnv);
  if (!planFailureActions(dupConfigString(config_id::RecoveryRestartDelays),
                          dupConfigString(config_id::RecoveryResetPeriod), plan.recovery, error))
    return false;
  plan.eventSource = getConfigInt(config_id::EventLog) != 0;
  plan.preshutdownMs =
      static_cast<std::uint32_t>(configNumber(getConfigString(config_id::StopTimeout), 0xFFFFFFFEu));
  return true;
}

std::u16string eventSourceKey(std::u16string_view serviceName) {
  return joined({u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\", serviceName});
}

}  // namespace pelto

// The text rules of runtime discovery, one row of cases/rules.txt each: the function, its
// arguments, and what it must give ("y"/"n" for yes and no, "-" for a refused text).
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "jre/CaseRows.h"
#include "jre/LoadJvm.h"
#include "jre/ProbeText.h"
#include "jre/Registry.h"
#include "jre/Search.h"
#include "jre/Version.h"
#include "jvm/ChosenRuntime.h"
#include "support/ScopedConfig.h"

namespace pelto {
namespace {

using test::CaseRow;

std::string yn(bool b) {
  return b ? "y" : "n";
}

VersionBounds bounds(const CaseRow& r) {
  return {parseJavaVersion(r[1]), parseJavaVersion(r[2])};
}

std::string refusedOr(bool ok, const std::string& text) {
  return ok ? text : "-";
}

const std::map<std::string, std::function<std::string(const CaseRow&)>> Rules = {
    {"parse",
     [](const CaseRow& r) {
       std::string out;
       for (std::int32_t n : parseJavaVersion(r[1])) out += (out.empty() ? "" : ".") + std::to_string(n);
       return out;
     }},
    {"bounds",  // strict, then lenient
     [](const CaseRow& r) {
       return yn(isVersionAcceptable(r[3], bounds(r), true)) + yn(isVersionInRangeLenient(r[3], bounds(r)));
     }},
    {"prerelease", [](const CaseRow& r) { return yn(isVersionAcceptable(r[1], {}, false)); }},
    {"newer", [](const CaseRow& r) { return yn(isNewerVersion(r[1], r[2])); }},
    {"subkeys",
     [](const CaseRow& r) { return test::joined(versionSubkeyTrialOrder(test::listOf(r[3]), bounds(r))); }},
    {"fallback",
     [](const CaseRow& r) {
       return yn(takesPartInFallback({r[1][0], r[1].substr(1)}));
     }},
    {"split",
     [](const CaseRow& r) {
       std::vector<std::string> entries;
       for (const JvmSearchEntry& e : splitSearchSequence(r[1])) entries.push_back(e.letter + e.text);
       return test::joined(entries);
     }},
    {"firstline",
     [](const CaseRow& r) {
       std::string version;
       return refusedOr(versionFromFirstLine(r[1], version), version);
     }},
    {"cachekey", [](const CaseRow& r) { return versionCacheKey(r[1]); }},
    {"cachevalue",
     [](const CaseRow& r) {
       std::string version;
       return refusedOr(cachedVersionFromValue(r[1], version), version);
     }},
    {"probe",
     [](const CaseRow& r) {
       auto command = probeCommand(r[1], r[2]);
       return refusedOr(command && command->application == r[1], command ? command->commandLine : "");
     }},
    {"ucrt", [](const CaseRow& r) { return yn(needsUcrtbasePreload(std::stoul(r[1]), std::stoul(r[2]))); }},
    {"bin", [](const CaseRow& r) { return binDirectoryOf(r[1]) + "|" + jreBinVariantOf(r[1]); }},
    {"located", [](const CaseRow& r) { return locatedRuntimePath(r[1]); }},
    // Left set: no other test of this program reads them.
    {"home",
     [](const CaseRow& r) {
       setChosenRuntime(r[1], r[2]);
       return JvmHome + "|" + RuntimeVersionText;
     }},
};

TEST(RuntimeTextRules, Cases) {
  test::ScopedConfig config;  // no pre-release setting
  auto rows = test::caseRows("rules.txt");
  EXPECT_GT(rows.size(), 90u);
  for (const CaseRow& r : rows) {
    std::string want = r.back();
    if (r[0] == "bin" || r[0] == "home") want = r[r.size() - 2] + "|" + want;
    EXPECT_EQ(Rules.at(r[0])(r), want) << test::joined(r, "|");
  }
}

}  // namespace
}  // namespace pelto

// What the key table tells people and editors: the JSON Schema, the key reference and a starter
// configuration.
#include <sstream>

#include "PackKeys.h"
#include "PackTool.h"
#include "Ship.h"

namespace pelto::pack {
namespace {

std::string json(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string enumOf(std::span<const std::string_view> values) {
  std::string out = "{\"enum\": [";
  for (std::size_t i = 0; i < values.size(); ++i) out += (i ? ", " : "") + json(values[i]);
  return out + "]}";
}

constexpr std::string_view Str = R"({"type": "string"})";
constexpr std::string_view NonEmpty = R"({"type": "string", "minLength": 1})";
constexpr std::string_view Bool = R"({"type": "boolean"})";
constexpr std::string_view Duration = R"({"type": "string", "pattern": "^[0-9]+(ms|s|m|h|d)$"})";
constexpr std::string_view Seconds = R"({"type": "string", "pattern": "^[0-9]+(s|m|h|d)$"})";
// Texts of the string table: printable ASCII, which every code page reads the same.
constexpr std::string_view Ascii = "[ -~]";
// Relative: no drive, no leading slash.
constexpr std::string_view Relative = "(?![A-Za-z]:|[\\\\\\\\/])";

std::string asciiText(std::size_t room, std::string_view lead = "", std::string_view tail = "*") {
  return R"({"type": "string", "maxLength": )" + std::to_string(room) + R"(, "pattern": "^)" +
         std::string(lead) + std::string(Ascii) + std::string(tail) + R"($"})";
}

std::string object(const std::string& properties, std::string_view required = "") {
  return R"({"type": "object", "additionalProperties": false, "properties": {)" + properties + "}" +
         (required.empty() ? "" : ", \"required\": [" + std::string(required) + "]") + "}";
}
std::string arrayOf(std::string_view item) {
  return R"({"type": "array", "items": )" + std::string(item) + "}";
}
std::string words() {
  return R"({"oneOf": [{"type": "string"}, )" + arrayOf(Str) + "]}";
}

std::string kindSchema(const KeyDef& def) {
  switch (def.kind) {
    case Kind::Flag:
    case Kind::Windowed:
      return std::string(Bool);
    case Kind::Flavour:
    case Kind::Start:
    case Kind::Errors:
      return enumOf(enumValues(def.kind));
    case Kind::Version:
      return R"({"type": "string", "pattern": "^[0-9]+([._+-][0-9]+)*$"})";
    case Kind::MainClass:
      return R"({"type": "string", "pattern": "^([A-Za-z_$][\\w$]*(\\.[A-Za-z_$][\\w$]*)*/)?[A-Za-z_$][\\w$]*(\\.[A-Za-z_$][\\w$]*)*$"})";
    case Kind::Arguments:
      // Each JVM option starts with "-", or is a variable that expands to one.
      if (def.id == config_id::VmOptions)
        return R"({"oneOf": [{"type": "string"}, )" +
               arrayOf(R"x({"type": "string", "pattern": "^(-.|%|\\$\\{)"})x") + "]}";
      return words();
    case Kind::List:
      return arrayOf(NonEmpty);
    case Kind::PathList:
      return R"({"oneOf": [{"type": "string", "minLength": 1}, )" + arrayOf(NonEmpty) + "]}";
    case Kind::ClassPath:
      return arrayOf(
          R"({"anyOf": [{"type": "string", "pattern": "^[ -~]+$"}, )" +
          object(R"("path": {"type": "string", "pattern": "^[ -~]+$"}, "optional": {"type": "boolean"})",
                 "\"path\"") +
          ", " +
          object(R"("env": {"type": "string", "minLength": 1}, "optional": {"type": "boolean"})", "\"env\"") +
          "]}");
    case Kind::Search:
      return arrayOf(
          R"({"anyOf": [{"enum": ["path", "registry"]}, )" +
          object(R"("dir": {"type": "string", "minLength": 1}, "fallback": {"type": "boolean"})", "\"dir\"") +
          ", " + object(R"("env": {"type": "string", "minLength": 1})", "\"env\"") + "]}");
    case Kind::SplashTexts:
      return R"({"type": "array", "maxItems": 4, "items": )" +
             object(
                 R"("text": {"type": "string"}, "first": {"type": "integer"}, "second": {"type": "integer"})",
                 "\"text\"") +
             "}";
    case Kind::VersionOptions:
      return arrayOf(object(R"("versions": {"type": "string", "minLength": 1}, "options": )" + words(),
                            "\"versions\", \"options\""));
    case Kind::Duration:
      return std::string(def.unit == 1000 ? Seconds : Duration);
    case Kind::Size:
      return R"({"type": "string", "pattern": "^[0-9]+(B|KB|MB|GB)$"})";
    case Kind::DurationList:
      return R"({"type": "array", "minItems": 1, "maxItems": )" + std::to_string(def.max) + R"(, "items": )" +
             std::string(def.unit == 1000 ? Seconds : Duration) + "}";
    case Kind::ServiceName:
      return R"({"type": "string", "minLength": 1, "maxLength": 256, "pattern": "^[ -.0-\\[\\]-~]+$"})";
    case Kind::RelativeFolder:
      // A file is no folder: the log file may not end in a slash.
      return def.id == config_id::ServiceLogFile ? asciiText(def.room, Relative, "*[ -.0-\\\\[\\\\]-~]")
                                                 : asciiText(def.room, Relative, "+");
    case Kind::Path:
    case Kind::Output:
      return asciiText(def.room, "", "+");
    case Kind::Count:
      return R"({"type": "integer", "minimum": 0, "maximum": )" + std::to_string(def.max) + "}";
    case Kind::Account:
      return R"({"type": "string", "pattern": "^(LocalSystem|LocalService|NetworkService|virtual|[^\\\\@]+[\\\\@][^\\\\@]+)$"})";
    case Kind::VariableName:
      return R"({"type": "string", "pattern": "^[^=]+$"})";
    case Kind::Environment:
      return R"({"type": "object", "propertyNames": {"pattern": "^[^=]+$"}, "maxProperties": )" +
             std::to_string(def.max) + R"(, "additionalProperties": {"type": "string"}})";
    case Kind::Wide:
      return std::string(Str);
    case Kind::Text:
      return asciiText(def.room);
    default:
      return std::string(NonEmpty);
  }
}

std::string withDescription(std::string schema, std::string_view help) {
  schema.pop_back();
  return schema + ", \"description\": " + json(help) + "}";
}

std::string kindText(const KeyDef& def) {
  switch (def.kind) {
    case Kind::Text:
    case Kind::ServiceName:
      return "text";
    case Kind::Wide:
      return "text (Unicode)";
    case Kind::Flag:
    case Kind::Windowed:
      return "true / false";
    case Kind::Flavour:
      return "\"pelto\" / \"quorvanex\"";
    case Kind::Version:
      return "version: \"11\", \"17.0.2\", \"1.8.0_45\"";
    case Kind::MainClass:
      return "Java class name, \"module/class\" for a class in a named module";
    case Kind::Arguments:
      return "array of words, or one string split like a command line";
    case Kind::List:
      return "array of names";
    case Kind::Path:
    case Kind::Output:
      return "path (either slash)";
    case Kind::RelativeFolder:
      return "relative path";
    case Kind::FolderName:
      return "folder name";
    case Kind::PathList:
      return "array of paths";
    case Kind::ClassPath:
      return "array of `\"file\"`, `\"folder/\"`, `\"folder/*\"` (its archives), `{ path = ..., optional = "
             "true }`, "
             "`{ env = \"VAR\" }`";
    case Kind::Search:
      return "array of `{ dir = \"jre\" }` (`fallback = true`: also when the version does not fit), "
             "`{ env = \"VAR\" }`, `\"path\"`, `\"registry\"`";
    case Kind::Start:
      return "\"demand\" / \"auto\" / \"delayed-auto\" / \"disabled\"";
    case Kind::Errors:
      return "\"console\" / \"dialog\"";
    case Kind::SplashTexts:
      return "array of `{ text = ..., first = 0, second = 0 }`";
    case Kind::VersionOptions:
      return "array of `{ versions = \"11-16\" or a pattern such as \"21*\", options = [...] }`";
    case Kind::Duration:
      return def.unit == 1000 ? "duration in whole seconds: \"30s\", \"5m\", \"1h\", \"1d\""
                              : "duration: \"500ms\", \"30s\", \"5m\", \"1h\", \"1d\"";
    case Kind::Size:
      return "size: \"10MB\"";
    case Kind::DurationList:
      return "array of up to " + std::to_string(def.max) +
             " durations (ms, s, m, h, d), not empty: [\"10s\", \"1m\", \"5m\"]";
    case Kind::Count:
      return "integer from 0 to " + std::to_string(def.max);
    case Kind::Account:
      return "\"LocalSystem\" / \"LocalService\" / \"NetworkService\" / \"virtual\" / \"DOMAIN\\user\", "
             "\".\\user\", \"user@domain\"";
    case Kind::VariableName:
      return "variable name";
    case Kind::Environment:
      return "`NAME = \"value\"`, up to " + std::to_string(def.max) + " (Unicode)";
  }
  return "";
}

std::string ids(const KeyDef& def) {
  if (def.kind == Kind::SplashTexts) return "10109-10122";
  if (def.kind == Kind::VersionOptions) return "10200, 10201 + 2i, 10202 + 2i";
  if (def.kind == Kind::MainClass) return "122 (and 133)";
  if (def.kind == Kind::Environment)
    return std::to_string(def.id) + ", " + std::to_string(def.id + 1) + " + i (wide)";
  std::string out = std::to_string(def.id);
  if (def.id2 && def.kind != Kind::MainClass) out += ", " + std::to_string(def.id2);
  return out;
}

// A table's keys and the tables nested in it ("service.log" in "service").
std::string tableSchema(std::string_view table) {
  std::string properties;
  auto add = [&properties](std::string_view name, const std::string& schema) {
    properties += (properties.empty() ? "" : ", ") + json(name) + ": " + schema;
  };
  if (table == "messages")
    for (const MessageDef& m : messageTable()) add(m.key, withDescription(std::string(Str), m.detail));
  std::string required;
  for (const KeyDef& def : keyTable()) {
    if (def.table != table) continue;
    if (def.kind == Kind::Environment) return withDescription(kindSchema(def), def.help);
    add(def.key, withDescription(kindSchema(def), def.help));
    if (isRequired(def)) required += (required.empty() ? "" : ", ") + json(def.key);
  }
  for (std::string_view inner : tableNames())
    if (inner.size() > table.size() && inner.starts_with(table) && inner[table.size()] == '.' &&
        inner.find('.', table.size() + 1) == std::string_view::npos)
      add(inner.substr(table.size() + 1), tableSchema(inner));
  return object(properties, required);
}

// The tables that hold a required key are required too.
std::string requiredTables() {
  std::string out;
  for (std::string_view table : tableNames())
    for (const KeyDef& def : keyTable())
      if (def.table == table && isRequired(def)) {
        out += (out.empty() ? "" : ", ") + json(table);
        break;
      }
  return out;
}

}  // namespace

void writeJsonSchema(std::ostream& out) {
  std::string tables;
  for (std::string_view table : tableNames())
    if (table.find('.') == std::string_view::npos)
      tables += "    " + json(table) + ": " + tableSchema(table) + ",\n";
  std::string idMap =
      R"({"type": "object", "additionalProperties": false, "patternProperties": {"^-?[0-9]+$": {"type": "string"}}})";
  std::string messages;
  for (const MessageDef& m : messageTable())
    messages += (messages.empty() ? "" : ", ") + json(m.key) + ": " + std::string(Str);
  out << "{\n  \"$schema\": \"http://json-schema.org/draft-07/schema#\",\n"
      << "  \"title\": \"pelto-pack configuration\",\n  \"type\": \"object\",\n  \"additionalProperties\": "
         "false,\n"
      << "  \"properties\": {\n"
      << tables << "    \"locale\": "
      << arrayOf(
             object(R"("key": {"type": "string"}, "messages": )" + object(messages) + ", \"raw\": " + idMap,
                    "\"key\""))
      << ",\n    \"include\": "
      << arrayOf(object(
             R"("source": {"type": "string", "minLength": 1}, "name": {"type": "string", "minLength": 1})",
             "\"source\""))
      << ",\n    \"pack\": "
      << object(R"("include-runtime": {"type": "boolean"}, "runtime-jar": {"type": "string"}, )"
                R"("subsystem": {"enum": ["console", "windowed"]})")
      << ",\n    \"resources\": " << resourcesSchema() << ",\n    \"installer\": " << installerSchema()
      << ",\n    \"raw\": " << object("\"strings\": " + idMap + ", \"wide\": " + idMap)
      << "\n  },\n  \"required\": [" << requiredTables() << "]\n}\n";
}

void writeKeyReference(std::ostream& out) {
  out << "| Key | Value | ConfigId |\n|---|---|---|\n";
  for (const KeyDef& def : keyTable())
    out << "| `" << def.table << "." << def.key << "` | " << def.help << "; " << kindText(def) << " | "
        << ids(def) << " |\n";
  out << "\n| Message (`[messages]`, `[locale.messages]`) | {0} | ConfigId |\n|---|---|---|\n";
  for (const MessageDef& m : messageTable())
    out << "| `" << m.key << "` | " << m.detail << " | " << m.id << " |\n";
  writeShipKeyReference(out, true);
}

void writeKeyText(std::ostream& out) {
  for (const KeyDef& def : keyTable())
    out << def.table << "." << def.key << "\n    " << def.help << "; " << kindText(def) << " (ConfigId "
        << ids(def) << ")\n";
  out << "\nMessages ([messages], [locale.messages]):\n";
  for (const MessageDef& m : messageTable())
    out << m.key << "\n    {0}: " << m.detail << " (ConfigId " << m.id << ")\n";
  writeShipKeyReference(out, false);
}

namespace {

// A word pasted into a shell or cmd stays one word.
std::string commandLineWord(const std::string& word) {
  bool plain = !word.empty() && word.find_first_not_of(
                                    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                    "0123456789._-/\\:") == std::string::npos;
  return plain ? word : "\"" + word + "\"";
}

}  // namespace

std::string starterToml(const std::string& name, const std::string& mainClass, const std::string& file) {
  std::ostringstream t;
  std::string config = commandLineWord(file), exe = commandLineWord(name + ".exe");
  t << "# " << name << ": a Java application run as a Windows service.\n"
    << "#   pelto-pack check " << config << "   checks it\n"
    << "#   pelto-pack build " << config << " -o " << exe << "   packs it\n"
    << "# `pelto-pack keys` lists every key; `pelto-pack schema` gives editors a JSON Schema.\n"
    << "\n[service]\n"
    << "name = \"" << name << "\"\n"
    << "# display-name = \"" << name << "\"        # shown in the Services console\n"
    << "description = \"" << name << ", a Java application.\"\n"
    << "start = \"demand\"           # \"demand\" | \"auto\" | \"delayed-auto\" | \"disabled\"\n"
    << "errors = \"console\"         # \"console\" | \"dialog\": where fatal messages go\n"
    << "\n[application]\n"
    << "main-class = \"" << mainClass << "\"   # \"module/class\" for a class in a named module\n"
    << "arguments = []              # one element per argument\n"
    << "classpath = [\n"
    << "  { path = \"lib/*\", optional = true },   # every archive of lib beside the executable\n"
    << "]\n"
    << "\n[java]\n"
    << "min-version = \"11\"\n"
    << "# Where a runtime is looked for, in order; PELTO_JAVA_HOME is always tried last.\n"
    << "search = [{ dir = \"jre\" }, { env = \"JAVA_HOME\" }, \"path\", \"registry\"]\n"
    << "\n[jvm]\n"
    << "options = [\"-Xmx256m\"]\n"
    << "\n[output]                    # a service has no console: keep System.out and System.err\n"
    << "stdout = \"logs/out.log\"\n"
    << "stderr = \"logs/err.log\"\n"
    << "append = true\n";
  return t.str();
}

}  // namespace pelto::pack

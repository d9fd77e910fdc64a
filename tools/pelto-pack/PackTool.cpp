// The commands of pelto-pack: build, check, dump, init, schema and keys.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "PackKeys.h"
#include "PackTool.h"
#include "Ship.h"

namespace pelto::pack {
namespace {

namespace fs = std::filesystem;

constexpr const char* Usage =
    "usage: pelto-pack build CONFIG.toml -o OUT.exe [--launcher PATH]\n"
    "       pelto-pack check CONFIG.toml\n"
    "       pelto-pack dump EXE [--extract DIR]\n"
    "       pelto-pack init NAME --main-class CLASS [-o FILE]\n"
    "       pelto-pack msi CONFIG.toml --exe EXE -o OUT.msi\n"
    "       pelto-pack schema\n"
    "       pelto-pack keys [--markdown]\n"
    "       pelto-pack --version\n";

struct Failure {
  std::string message;
};

std::vector<unsigned char> readWhole(const fs::path& path, const std::string& what) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) throw Failure{pathText(path) + ": " + what + " does not exist"};
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw Failure{pathText(path) + ": " + what + " cannot be read"};
  return bytes;
}

std::uint32_t le32(const std::vector<unsigned char>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The offset behind the last section of a PE32+ image; the image must hold its headers.
std::uint64_t appendPoint(const std::vector<unsigned char>& image, const fs::path& path) {
  auto bad = [&path](const std::string& why) {
    return Failure{pathText(path) + ": not a PE32+ image (" + why + ")"};
  };
  if (image.size() < 64 || image[0] != 'M' || image[1] != 'Z') throw bad("no MZ header");
  std::uint32_t h = le32(image, 60);
  if (std::uint64_t{h} + 26 > image.size() || image[h] != 'P' || image[h + 1] != 'E' || image[h + 2] != 0 ||
      image[h + 3] != 0)
    throw bad("no PE signature");
  if ((image[h + 24] | image[h + 25] << 8) != 0x20B) throw bad("not a 64-bit optional header");
  std::uint64_t offset = 0;
  if (!appendedDataOffset(image, offset) || (image[h + 6] | image[h + 7] << 8) == 0)
    throw bad("section table cut short");
  if (offset > image.size()) throw bad("the last section's raw data lies beyond the end of the file");
  return offset;
}

// Writes beside the target first and renames at the end, so that no half-written output is left.
void writeAtomically(const fs::path& target, const std::vector<unsigned char>& bytes,
                     const fs::path& modeFrom) {
  std::random_device rd;
  fs::path temp = target;
  temp += ".tmp" + std::to_string(rd() % 1000000);
  {
    errno = 0;
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::string why = errno ? std::strerror(errno) : "the write failed";
      std::error_code ec;
      fs::remove(temp, ec);
      throw Failure{pathText(target) + ": cannot be written: " + why};
    }
  }
  std::error_code ec;
  fs::permissions(temp, fs::status(modeFrom, ec).permissions(), ec);
  fs::rename(temp, target, ec);
  if (ec) {
    // Some platforms do not rename over an existing file.
    std::error_code ignore;
    fs::remove(target, ignore);
    fs::rename(temp, target, ec);
  }
  if (ec) {
    std::string why = ec.message();
    fs::remove(temp, ec);
    throw Failure{pathText(target) + ": cannot be written: " + why};
  }
}

// The output may not be what the build reads: writing it would destroy an input (the launcher
// of every later build, or the configuration itself).
void refuseOutput(const fs::path& output, const std::vector<std::pair<fs::path, std::string>>& inputs) {
  std::error_code ec;
  if (fs::is_directory(output, ec))
    throw Failure{pathText(output) + ": is a folder; give the file to write, such as " +
                  pathText(output / "MyService.exe")};
  for (const auto& [input, what] : inputs)
    if (fs::equivalent(output, input, ec))
      throw Failure{pathText(output) + ": is the " + what +
                    " this build reads; write the executable elsewhere"};
}

// dump --extract writes into a folder of its own: new or empty, and not a link to elsewhere.
void refuseExtractFolder(const fs::path& dir) {
  std::error_code ec;
  fs::file_status status = fs::symlink_status(dir, ec);
  if (fs::is_symlink(status) || (fs::exists(status) && !fs::is_directory(status)))
    throw Failure{pathText(dir) + ": is not a folder (a link is not followed); give a new or empty folder"};
  if (fs::exists(status) && !fs::is_empty(dir, ec))
    throw Failure{pathText(dir) +
                  ": is not empty; give a new or empty folder, so that nothing is overwritten"};
}

// The tools lie together (build/dist), or installed as bin/pelto-pack with the launcher and
// the runtime library in share/pelto.
std::vector<fs::path> toolFolders(const fs::path& ownPath) {
  fs::path own = ownPath.parent_path();
  return {own, own.parent_path() / "share" / "pelto"};
}

fs::path defaultLauncher(const fs::path& ownPath) {
  std::vector<fs::path> folders = toolFolders(ownPath);
  std::error_code ec;
  for (const fs::path& dir : folders)
    if (fs::is_regular_file(dir / "pelto-launcher.exe", ec)) return dir / "pelto-launcher.exe";
  return folders.front() / "pelto-launcher.exe";  // reported as missing there
}

// The runtime library goes in as one more included file: from [pack] runtime-jar, else found
// beside the launcher or beside the pack tool.
fs::path includeRuntimeJar(ConfigBlock& block, const PackRequest& request, const fs::path& config,
                           const fs::path& launcher, const fs::path& ownPath) {
  fs::path jar;
  if (request.runtimeJar) {
    jar = *request.runtimeJar;
  } else {
    std::error_code ec;
    std::vector<fs::path> folders = toolFolders(ownPath);
    folders.insert(folders.begin(), launcher.parent_path());
    for (const fs::path& dir : folders) {
      fs::path candidate = dir / std::string(RuntimeJarName);
      if (fs::is_regular_file(candidate, ec)) {
        jar = candidate;
        break;
      }
    }
    if (jar.empty())
      throw Failure{pathText(config) + ": " + std::string(RuntimeJarName) +
                    " is included by default but is neither beside " + pathText(launcher) +
                    " nor beside pelto-pack; set runtime-jar under [pack], or include-runtime = false"};
  }
  std::vector<unsigned char> bytes = readWhole(jar, "runtime library");
  block.files.push_back(IncludedFile{std::string(RuntimeJarName), std::move(bytes)});
  return jar;
}

// The words of a command after its name: one word that is not an option, and options that each
// take the next word as their value (each at most once). Anything else, or a missing
// word or required option, is a usage error.
struct CommandWords {
  std::string word;
  std::map<std::string, std::string, std::less<>> options;
  std::optional<std::string> option(std::string_view name) const {
    auto it = options.find(name);
    return it == options.end() ? std::nullopt : std::optional(it->second);
  }
};

bool readCommandWords(const std::vector<std::string>& args, std::initializer_list<std::string_view> known,
                      std::initializer_list<std::string_view> required, CommandWords& out,
                      std::ostream& err) {
  bool haveWord = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    bool isOption = std::find(known.begin(), known.end(), args[i]) != known.end();
    if (isOption && out.options.count(args[i])) {
      err << "pelto-pack: " << args[i] << " is given twice\n" << Usage;
      return false;
    }
    if (isOption && i + 1 < args.size()) {
      out.options[args[i]] = args[i + 1];
      ++i;
    } else if (!haveWord && !args[i].starts_with("-")) {
      out.word = args[i];
      haveWord = true;
    } else {
      err << "pelto-pack: unexpected argument \"" << args[i] << "\"\n" << Usage;
      return false;
    }
  }
  bool complete = haveWord && std::all_of(required.begin(), required.end(),
                                          [&](std::string_view name) { return out.options.count(name) > 0; });
  if (!complete) err << Usage;
  return complete;
}

int build(const std::vector<std::string>& args, const fs::path& ownPath, std::ostream& out,
          std::ostream& err) {
  CommandWords words;
  if (!readCommandWords(args, {"-o", "--launcher"}, {"-o"}, words, err)) return ExitUsage;
  std::optional<fs::path> config = pathFromText(words.word), output = pathFromText(*words.option("-o")),
                          launcher;
  if (std::optional<std::string> given = words.option("--launcher")) launcher = pathFromText(*given);
  if (!launcher) launcher = defaultLauncher(ownPath);

  ConfigBlock block;
  std::string error;
  PackRequest request;
  if (!blockFromToml(*config, block, error, &request)) throw Failure{error};
  std::vector<std::pair<fs::path, std::string>> inputs = {{*config, "configuration"},
                                                          {*launcher, "launcher"}};
  if (request.includeRuntime)
    inputs.emplace_back(includeRuntimeJar(block, request, *config, *launcher, ownPath), "runtime library");
  for (const fs::path& source : request.inputs) inputs.emplace_back(source, "included file");
  refuseOutput(*output, inputs);

  std::vector<unsigned char> image = readWhole(*launcher, "launcher");
  std::uint64_t at = appendPoint(image, *launcher);
  if (at < image.size()) {
    if (image.size() - at >= 4 && le32(image, static_cast<std::size_t>(at)) == ConfigMagic)
      throw Failure{pathText(*launcher) + ": already carries a configuration block; pack a plain launcher"};
    if (std::string why = removeSignature(image, at); !why.empty())
      throw Failure{pathText(*launcher) + ": " + why};
  }
  if (at < image.size()) {
    throw Failure{pathText(*launcher) + ": has " + std::to_string(image.size() - at) +
                  " bytes behind its last section (use a stripped launcher)"};
  }
  if (std::string why = shipImage(image, block, request.ship); !why.empty())
    throw Failure{pathText(*launcher) + ": " + why};
  std::vector<unsigned char> bytes = encodeConfigBlock(block);
  image.insert(image.end(), bytes.begin(), bytes.end());
  finishImage(image);
  writeAtomically(*output, image, *launcher);
  out << "pelto-pack: wrote " << pathText(*output) << " (" << image.size() << " bytes";
  if (block.files.empty()) out << ", no included files";
  for (std::size_t i = 0; i < block.files.size(); ++i)
    out << (i ? ", " : ", included: ") << fromCp1252(block.files[i].name);
  out << ")\n";
  return ExitOk;
}

int dump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandWords words;
  if (!readCommandWords(args, {"--extract"}, {}, words, err)) return ExitUsage;
  std::optional<fs::path> exe = pathFromText(words.word), extract;
  if (std::optional<std::string> given = words.option("--extract")) extract = pathFromText(*given);
  if (extract) refuseExtractFolder(*extract);
  std::vector<unsigned char> image = readWhole(*exe, "executable");
  std::uint64_t at = appendPoint(image, *exe);
  ByteSource source = memorySource(image);
  source.seek(at);
  ConfigBlock block;
  ConfigError e = readConfigBlock(source, block);
  if (!e) e = readIncludedFiles(source, block);
  if (e) {
    std::u16string text = configErrorText(e);
    throw Failure{pathText(*exe) + ": no readable configuration block (" +
                  std::string(text.begin(), text.end()) + " at offset " + std::to_string(source.position()) +
                  ")"};
  }
  std::ostringstream toml;
  std::string error;
  if (!blockToToml(block, extract, toml, error)) throw Failure{error};
  std::string packLines, resources;
  if (!shipToToml(image, block, extract, packLines, resources, error))
    throw Failure{pathText(*exe) + ": " + error};
  out << withShipTables(toml.str(), packLines, resources);
  return ExitOk;
}

int check(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 2 || args[1].starts_with("-")) {
    err << Usage;
    return ExitUsage;
  }
  ConfigBlock block;
  std::string error;
  if (!blockFromToml(pathFromText(args[1]), block, error)) throw Failure{error};
  out << "pelto-pack: " << args[1] << " is a valid configuration\n";
  return ExitOk;
}

int init(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandWords words;
  if (!readCommandWords(args, {"--main-class", "-o"}, {"--main-class"}, words, err)) return ExitUsage;
  std::optional<std::string> name = words.word, mainClass = words.option("--main-class"),
                             output = words.option("-o");
  std::string why = checkServiceName(*name);
  if (why.empty() && name->find_first_of("\"") != std::string::npos) why = "may not contain a double quote";
  if (!why.empty()) throw Failure{"NAME \"" + *name + "\" " + why};
  why = checkMainClass(*mainClass);
  if (!why.empty()) throw Failure{"--main-class \"" + *mainClass + "\" " + why};
  std::string text =
      starterToml(*name, *mainClass, output ? pathText(pathFromText(*output).filename()) : "service.toml");
  if (!output) {
    out << text;
    return ExitOk;
  }
  fs::path target = pathFromText(*output);
  std::error_code ec;
  if (fs::exists(target, ec))
    throw Failure{pathText(target) + ": exists already; pelto-pack init does not overwrite it"};
  std::ofstream file(target, std::ios::binary);
  file << text;
  file.close();
  if (!file) throw Failure{pathText(target) + ": cannot be written"};
  return ExitOk;
}

}  // namespace

int runPackTool(const std::vector<std::string>& args, const fs::path& ownPath, std::ostream& out,
                std::ostream& err) {
  try {
    if (!args.empty() && args[0] == "build") return build(args, ownPath, out, err);
    if (!args.empty() && args[0] == "dump") return dump(args, out, err);
    if (!args.empty() && args[0] == "check") return check(args, out, err);
    if (!args.empty() && args[0] == "init") return init(args, out, err);
    if (!args.empty() && args[0] == "msi") {
      std::string why = buildMsi(args);
      if (why.empty()) return ExitOk;
      err << (why == "usage" ? std::string(Usage) : "pelto-pack: " + why + "\n");
      return why == "usage" ? ExitUsage : ExitBadInput;
    }
    if (args.size() == 1 && args[0] == "schema") {
      writeJsonSchema(out);
      return ExitOk;
    }
    if (!args.empty() && args[0] == "keys" &&
        (args.size() == 1 || (args.size() == 2 && args[1] == "--markdown"))) {
      args.size() == 2 ? writeKeyReference(out) : writeKeyText(out);
      return ExitOk;
    }
    if (args.size() == 1 && args[0] == "--version") {
      out << "pelto-pack " << PELTO_VERSION << "\n";
      return ExitOk;
    }
    if (!args.empty() && (args[0] == "--help" || args[0] == "help")) {
      out << Usage;
      return ExitOk;
    }
    err << Usage;
    return ExitUsage;
  } catch (const Failure& f) {
    err << "pelto-pack: " << f.message << "\n";
    return ExitBadInput;
  } catch (const std::exception& x) {
    err << "pelto-pack: " << x.what() << "\n";
    return ExitBadInput;
  }
}

}  // namespace pelto::pack

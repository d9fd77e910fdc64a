// Icon, version information and manifest as resources: the section's directory tree, the
// version block and the manifest text, and reading the same back for dump.
#include "Resources.h"

#include <algorithm>
#include <charconv>

#include "env/TextConv.h"

namespace pelto::pack {
namespace {

using pe::Bytes;
using pe::get16;
using pe::get32;

void add16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<unsigned char>(v));
  b.push_back(static_cast<unsigned char>(v >> 8));
}
void add32(Bytes& b, std::uint32_t v) {
  add16(b, v & 0xFFFF);
  add16(b, v >> 16);
}
void pad4(Bytes& b) {
  while (b.size() % 4) b.push_back(0);
}

const std::vector<ResourceKey> Keys = {
    {"icon", "", "icon file (.ico), relative to the configuration file"},
    {"file-version", "FileVersion", "file version: four numbers up to 65535 (default \"0.0.0.0\")"},
    {"product-version", "ProductVersion",
     "product version: one to four numbers up to 65535 (default the file version); also the MSI's version"},
    {"product-name", "ProductName", "product name (default the service name)"},
    {"company", "CompanyName", "company name"},
    {"copyright", "LegalCopyright", "copyright notice"},
    {"description", "FileDescription", "file description Explorer shows (default the product name)"},
    {"execution-level", "",
     "rights the manifest asks for: \"asInvoker\" (default), \"highestAvailable\" or "
     "\"requireAdministrator\""},
    {"long-path-aware", "", "the manifest declares the program aware of paths beyond 260 characters"},
};

// A node of a version resource: length, value length, type, key, value, children; each
// aligned to four bytes from the start of the resource.
Bytes versionNode(std::string_view key, const Bytes& value, std::uint16_t valueLength, bool text,
                  const std::vector<Bytes>& children) {
  Bytes n(6, 0);
  for (char16_t c : utf8ToUtf16(key)) add16(n, c);
  add16(n, 0);
  pad4(n);
  n.insert(n.end(), value.begin(), value.end());
  for (const Bytes& child : children) {
    pad4(n);
    n.insert(n.end(), child.begin(), child.end());
  }
  pe::put16(n, 0, static_cast<std::uint16_t>(n.size()));
  pe::put16(n, 2, valueLength);
  pe::put16(n, 4, text ? 1 : 0);
  return n;
}

Bytes stringNode(std::string_view key, std::string_view utf8) {
  Bytes value;
  std::u16string wide = utf8ToUtf16(utf8);
  for (char16_t c : wide) add16(value, c);
  add16(value, 0);
  return versionNode(key, value, static_cast<std::uint16_t>(wide.size() + 1), true, {});
}

std::uint32_t high(const std::vector<std::uint16_t>& v) {
  return std::uint32_t{v[0]} << 16 | (v.size() > 1 ? v[1] : 0);
}
std::uint32_t low(const std::vector<std::uint16_t>& v) {
  return std::uint32_t{v.size() > 2 ? v[2] : std::uint16_t{0}} << 16 | (v.size() > 3 ? v[3] : 0);
}

// A node read back: its key, value bytes and children, all within `b`.
struct Node {
  std::string key;
  std::size_t value = 0, valueEnd = 0, childrenAt = 0, end = 0;
};
std::optional<Node> readNode(const Bytes& b, std::size_t at, std::size_t limit) {
  if (at + 6 > limit) return std::nullopt;
  Node n;
  std::size_t length = get16(b, at), valueLength = get16(b, at + 2);
  bool text = get16(b, at + 4) == 1;
  n.end = at + length;
  if (length < 6 || n.end > limit) return std::nullopt;
  std::u16string key;
  std::size_t p = at + 6;
  for (; p + 2 <= n.end && get16(b, p) != 0; p += 2) key += static_cast<char16_t>(get16(b, p));
  if (p + 2 > n.end) return std::nullopt;
  n.key = utf16ToUtf8(key);
  n.value = (p + 2 + 3) / 4 * 4;
  n.valueEnd = n.value + (text ? valueLength * 2 : valueLength);
  if (n.valueEnd > n.end) return std::nullopt;
  n.childrenAt = (n.valueEnd + 3) / 4 * 4;
  return n;
}
std::vector<Node> children(const Bytes& b, const Node& parent) {
  std::vector<Node> out;
  for (std::size_t at = parent.childrenAt; at + 6 <= parent.end;) {
    std::optional<Node> n = readNode(b, at, parent.end);
    if (!n) break;
    out.push_back(*n);
    at = (n->end + 3) / 4 * 4;
  }
  return out;
}

}  // namespace

const std::vector<ResourceKey>& resourceKeys() {
  return Keys;
}

std::optional<std::vector<std::uint16_t>> versionParts(std::string_view text, std::size_t most) {
  std::vector<std::uint16_t> parts;
  for (std::size_t p = 0;;) {
    std::size_t dot = std::min(text.find('.', p), text.size());
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data() + p, text.data() + dot, value);
    if (ec != std::errc() || end != text.data() + dot || dot == p || value > 65535 || parts.size() == most)
      return std::nullopt;
    parts.push_back(static_cast<std::uint16_t>(value));
    if (dot == text.size()) return parts;
    p = dot + 1;
  }
}

std::optional<std::vector<IconImage>> parseIcon(const Bytes& ico, std::string& why) {
  if (ico.size() < 6 || get16(ico, 0) != 0 || get16(ico, 2) != 1) {
    why = "it does not start as an icon file does";
    return std::nullopt;
  }
  std::size_t count = get16(ico, 4);
  if (count == 0 || 6 + 16 * count > ico.size()) {
    why = "its directory of " + std::to_string(count) + " images does not fit the file";
    return std::nullopt;
  }
  std::vector<IconImage> images;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t e = 6 + 16 * i;
    std::uint64_t size = get32(ico, e + 8), offset = get32(ico, e + 12);
    if (size < 8 || offset + size > ico.size()) {
      why = "image " + std::to_string(i + 1) + " lies outside the file";
      return std::nullopt;
    }
    // Each image is a PNG or a bitmap starting with its 40-byte header.
    bool png =
        ico[offset] == 0x89 && ico[offset + 1] == 'P' && ico[offset + 2] == 'N' && ico[offset + 3] == 'G';
    if (!png && get32(ico, offset) != 40) {
      why = "image " + std::to_string(i + 1) + " is neither a PNG nor a bitmap";
      return std::nullopt;
    }
    images.push_back({Bytes(ico.begin() + static_cast<std::ptrdiff_t>(e),
                            ico.begin() + static_cast<std::ptrdiff_t>(e + 8)),
                      Bytes(ico.begin() + static_cast<std::ptrdiff_t>(offset),
                            ico.begin() + static_cast<std::ptrdiff_t>(offset + size))});
  }
  return images;
}

Bytes iconFile(const std::vector<IconImage>& images) {
  Bytes f;
  add16(f, 0);
  add16(f, 1);
  add16(f, static_cast<std::uint32_t>(images.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  for (const IconImage& i : images) {
    f.insert(f.end(), i.entry.begin(), i.entry.end());
    add32(f, static_cast<std::uint32_t>(i.data.size()));
    add32(f, offset);
    offset += static_cast<std::uint32_t>(i.data.size());
  }
  for (const IconImage& i : images) f.insert(f.end(), i.data.begin(), i.data.end());
  return f;
}

Resources withDefaults(Resources r, const std::string& name) {
  r.texts.try_emplace("product-name", name);
  r.texts.try_emplace("description", r.texts["product-name"]);
  r.texts.try_emplace("file-version", "0.0.0.0");
  r.texts.try_emplace("product-version", r.texts["file-version"]);
  if (r.executionLevel.empty()) r.executionLevel = "asInvoker";
  return r;
}

Resources withoutDefaults(Resources full, const std::string& name) {
  auto drop = [&full](const std::string& key, const std::string& fallback) {
    auto it = full.texts.find(key);
    if (it != full.texts.end() && it->second == fallback) full.texts.erase(it);
  };
  // In the reverse order of withDefaults: each default may name a value kept before it.
  std::string productName = full.texts["product-name"], fileVersion = full.texts["file-version"];
  drop("product-version", fileVersion);
  drop("file-version", "0.0.0.0");
  drop("description", productName);
  drop("product-name", name);
  if (full.executionLevel == "asInvoker") full.executionLevel.clear();
  return full;
}

Bytes resourceSection(std::vector<ResourceEntry> entries, std::uint32_t address) {
  std::sort(entries.begin(), entries.end(), [](const ResourceEntry& a, const ResourceEntry& b) {
    return std::pair(a.type, a.id) < std::pair(b.type, b.id);
  });
  std::vector<std::uint16_t> types;
  for (const ResourceEntry& e : entries)
    if (types.empty() || types.back() != e.type) types.push_back(e.type);
  // Tree first (root, one directory per type, one per name with its one language), then the
  // data entries, then the data.
  std::uint32_t treeSize = 16 + 8 * static_cast<std::uint32_t>(types.size());
  treeSize += 16 * static_cast<std::uint32_t>(types.size()) + 8 * static_cast<std::uint32_t>(entries.size());
  treeSize += 24 * static_cast<std::uint32_t>(entries.size());
  std::uint32_t dataEntries = treeSize, data = dataEntries + 16 * static_cast<std::uint32_t>(entries.size());
  auto directoryHeader = [](Bytes& b, std::size_t ids) {
    add32(b, 0);
    add32(b, 0);
    add32(b, 0);
    add16(b, 0);
    add16(b, static_cast<std::uint32_t>(ids));
  };
  Bytes s;
  directoryHeader(s, types.size());
  std::uint32_t next = 16 + 8 * static_cast<std::uint32_t>(types.size());
  for (std::uint16_t t : types) {
    add32(s, t);
    add32(s, 0x80000000u | next);
    next +=
        16 + 8 * static_cast<std::uint32_t>(std::count_if(
                     entries.begin(), entries.end(), [t](const ResourceEntry& e) { return e.type == t; }));
  }
  std::uint32_t names = next;
  for (std::uint16_t t : types) {
    directoryHeader(s, std::count_if(entries.begin(), entries.end(),
                                     [t](const ResourceEntry& e) { return e.type == t; }));
    for (std::size_t i = 0; i < entries.size(); ++i)
      if (entries[i].type == t) {
        add32(s, entries[i].id);
        add32(s, 0x80000000u | (names + 24 * static_cast<std::uint32_t>(i)));
      }
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    directoryHeader(s, 1);
    add32(s, EnglishUs);
    add32(s, dataEntries + 16 * static_cast<std::uint32_t>(i));
  }
  Bytes blobs;
  for (const ResourceEntry& e : entries) {
    while (blobs.size() % 8) blobs.push_back(0);
    add32(s, address + data + static_cast<std::uint32_t>(blobs.size()));
    add32(s, static_cast<std::uint32_t>(e.data.size()));
    add32(s, 0);
    add32(s, 0);
    blobs.insert(blobs.end(), e.data.begin(), e.data.end());
  }
  s.insert(s.end(), blobs.begin(), blobs.end());
  return s;
}

std::optional<Bytes> findResource(const Bytes& image, const pe::Layout& layout, std::uint16_t type,
                                  std::uint16_t id) {
  pe::Directory dir = pe::directory(image, layout, pe::ResourceDirectory);
  const pe::Section* section = nullptr;
  for (const pe::Section& s : layout.sections)
    if (dir.size && dir.address >= s.virtualAddress && dir.address - s.virtualAddress < s.rawSize)
      section = &s;
  if (!section) return std::nullopt;
  std::size_t base = section->rawOffset + (dir.address - section->virtualAddress);
  std::size_t limit = std::min<std::size_t>(image.size(), std::size_t{section->rawOffset} + section->rawSize);
  // One level of the tree: the offset of the entry for `want` (the first entry when 0).
  auto lookup = [&](std::size_t at, std::uint32_t want, bool& ok) -> std::uint32_t {
    ok = false;
    if (base + at + 16 > limit) return 0;
    std::size_t count = std::size_t{get16(image, base + at + 12)} + get16(image, base + at + 14);
    for (std::size_t i = 0; i < count && base + at + 16 + 8 * i + 8 <= limit; ++i) {
      std::size_t e = base + at + 16 + 8 * i;
      if (want == 0 || get32(image, e) == want) {
        ok = true;
        return get32(image, e + 4);
      }
    }
    return 0;
  };
  bool ok = false;
  std::uint32_t typeDir = lookup(0, type, ok);
  if (!ok || !(typeDir & 0x80000000u)) return std::nullopt;
  std::uint32_t nameDir = lookup(typeDir & 0x7FFFFFFFu, id, ok);
  if (!ok || !(nameDir & 0x80000000u)) return std::nullopt;
  std::uint32_t entry = lookup(nameDir & 0x7FFFFFFFu, 0, ok);
  if (!ok || (entry & 0x80000000u) || base + entry + 16 > limit) return std::nullopt;
  std::uint32_t rva = get32(image, base + entry), size = get32(image, base + entry + 4);
  if (rva < section->virtualAddress ||
      std::uint64_t{rva - section->virtualAddress} + size > section->rawSize ||
      section->rawOffset + std::uint64_t{rva - section->virtualAddress} + size > image.size())
    return std::nullopt;
  auto from =
      image.begin() + static_cast<std::ptrdiff_t>(section->rawOffset + (rva - section->virtualAddress));
  return Bytes(from, from + size);
}

Bytes versionInfo(const Resources& full) {
  auto file = versionParts(full.texts.at("file-version"), 4).value_or(std::vector<std::uint16_t>{0});
  auto product = versionParts(full.texts.at("product-version"), 4).value_or(std::vector<std::uint16_t>{0});
  Bytes fixed;
  for (std::uint32_t v : {0xFEEF04BDu, 0x00010000u, high(file), low(file), high(product), low(product), 0x3Fu,
                          0u, 0x40004u /* NT, 32-bit Windows API */, 1u /* application */, 0u, 0u, 0u})
    add32(fixed, v);
  std::vector<Bytes> strings;
  for (const ResourceKey& k : Keys) {
    auto it = full.texts.find(k.key);
    if (!k.versionName.empty() && it != full.texts.end())
      strings.push_back(stringNode(k.versionName, it->second));
  }
  Bytes translation;
  add16(translation, EnglishUs);
  add16(translation, 1200);  // Unicode
  Bytes stringInfo =
      versionNode("StringFileInfo", {}, 0, true, {versionNode("040904B0", {}, 0, true, strings)});
  Bytes varInfo =
      versionNode("VarFileInfo", {}, 0, true, {versionNode("Translation", translation, 4, false, {})});
  return versionNode("VS_VERSION_INFO", fixed, static_cast<std::uint16_t>(fixed.size()), false,
                     {stringInfo, varInfo});
}

std::optional<std::map<std::string, std::string>> versionStrings(const Bytes& resource) {
  std::optional<Node> root = readNode(resource, 0, resource.size());
  if (!root || root->key != "VS_VERSION_INFO") return std::nullopt;
  std::map<std::string, std::string> out;
  for (const Node& info : children(resource, *root)) {
    if (info.key != "StringFileInfo") continue;
    for (const Node& table : children(resource, info))
      for (const Node& s : children(resource, table)) {
        std::u16string value;
        for (std::size_t p = s.value; p + 2 <= s.valueEnd && get16(resource, p) != 0; p += 2)
          value += static_cast<char16_t>(get16(resource, p));
        out[s.key] = utf16ToUtf8(value);
      }
  }
  return out;
}

std::string manifest(const Resources& full) {
  std::string m =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
      "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n"
      "    <security>\n      <requestedPrivileges>\n"
      "        <requestedExecutionLevel level=\"" +
      full.executionLevel +
      "\" uiAccess=\"false\"/>\n"
      "      </requestedPrivileges>\n    </security>\n  </trustInfo>\n";
  if (full.longPathAware)
    m += "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n    <windowsSettings>\n"
         "      <longPathAware "
         "xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>\n"
         "    </windowsSettings>\n  </application>\n";
  return m + "</assembly>\n";
}

std::vector<ResourceEntry> resourceEntries(const Resources& full) {
  std::vector<ResourceEntry> entries;
  std::string why;
  if (!full.icon.empty())
    if (std::optional<std::vector<IconImage>> images = parseIcon(full.icon, why)) {
      Bytes group;
      add16(group, 0);
      add16(group, 1);
      add16(group, static_cast<std::uint32_t>(images->size()));
      for (std::size_t i = 0; i < images->size(); ++i) {
        const IconImage& image = (*images)[i];
        group.insert(group.end(), image.entry.begin(), image.entry.end());
        add32(group, static_cast<std::uint32_t>(image.data.size()));
        add16(group, static_cast<std::uint32_t>(i + 1));
        entries.push_back({RtIcon, static_cast<std::uint16_t>(i + 1), image.data});
      }
      entries.push_back({RtGroupIcon, 1, group});
    }
  entries.push_back({RtVersion, 1, versionInfo(full)});
  std::string text = manifest(full);
  entries.push_back({RtManifest, 1, Bytes(text.begin(), text.end())});
  return entries;
}

std::optional<Resources> readResources(const Bytes& image, const pe::Layout& layout, std::string& why) {
  std::optional<Bytes> version = findResource(image, layout, RtVersion, 1);
  std::optional<Bytes> man = findResource(image, layout, RtManifest, 1);
  if (!version || !man) return std::nullopt;
  Resources r;
  std::optional<std::map<std::string, std::string>> strings = versionStrings(*version);
  if (!strings) {
    why = "its version resource cannot be read";
    return std::nullopt;
  }
  for (const ResourceKey& k : Keys)
    if (!k.versionName.empty() && strings->count(std::string(k.versionName)))
      r.texts[std::string(k.key)] = strings->at(std::string(k.versionName));
  std::string text(man->begin(), man->end());
  std::size_t level = text.find("level=\"");
  if (level != std::string::npos)
    r.executionLevel = text.substr(level + 7, text.find('"', level + 7) - (level + 7));
  r.longPathAware = text.find(">true</longPathAware>") != std::string::npos;
  if (std::optional<Bytes> group = findResource(image, layout, RtGroupIcon, 1)) {
    std::vector<IconImage> images;
    for (std::size_t i = 0; group->size() >= 6 && i < get16(*group, 4) && 6 + 14 * i + 14 <= group->size();
         ++i) {
      std::size_t e = 6 + 14 * i;
      std::optional<Bytes> data = findResource(image, layout, RtIcon, get16(*group, e + 12));
      if (!data) {
        why = "its icon group names a missing image";
        return std::nullopt;
      }
      images.push_back({Bytes(group->begin() + static_cast<std::ptrdiff_t>(e),
                              group->begin() + static_cast<std::ptrdiff_t>(e + 8)),
                        *data});
    }
    r.icon = iconFile(images);
  }
  return r;
}

}  // namespace pelto::pack

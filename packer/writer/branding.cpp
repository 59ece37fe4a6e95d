#include "packer/writer/branding.h"

#include <algorithm>
#include <set>

#include "base/utf8.h"

namespace {

constexpr uint32_t kIcoHeaderSize = 6;
constexpr uint32_t kIcoEntrySize = 16;
constexpr uint32_t kGroupEntrySize = 14;
constexpr uint32_t kMostIcoImages = 256;
constexpr uint16_t kMessageBlock = kFirstMessageId / 16 + 1;
constexpr uint32_t kStringsPerBlock = 16;
// LoadStringA's buffers in the launcher, less the terminator.
constexpr size_t kMessageBytes[kMessageCount] = {511, 255, 255};
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

void AppendU16(ByteVector* out, uint16_t value) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
}

void AppendU32(ByteVector* out, uint32_t value) {
  AppendU16(out, static_cast<uint16_t>(value));
  AppendU16(out, static_cast<uint16_t>(value >> 16));
}

void AppendText(ByteVector* out, const std::u16string& text) {
  for (char16_t c : text) AppendU16(out, c);
  AppendU16(out, 0);
}

void PadTo4(ByteVector* out) { out->resize((out->size() + 3) / 4 * 4, 0); }

std::u16string Utf16Of(const std::string& utf8) {
  std::u16string out;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
  for (size_t at = 0, taken = 0; at < utf8.size(); at += taken) {
    uint16_t units[2];
    const size_t count = EncodeUtf16(DecodeUtf8(bytes + at, utf8.size() - at, &taken), units);
    for (size_t k = 0; k < count; ++k) out += static_cast<char16_t>(units[k]);
  }
  return out;
}

std::u16string Ascii16(const char* text) { return Utf16Of(text); }

// One block of VS_VERSIONINFO: wLength, wValueLength, wType, its key, then
// its value and its children, each on a 32-bit boundary.
ByteVector VersionBlock(const char* key, bool text, const ByteVector& value, uint16_t valueLength,
                        const std::vector<ByteVector>& children) {
  ByteVector out(6, 0);
  AppendText(&out, Ascii16(key));
  PadTo4(&out);
  out.insert(out.end(), value.begin(), value.end());
  for (const ByteVector& child : children) {
    PadTo4(&out);
    out.insert(out.end(), child.begin(), child.end());
  }
  const MutableByteView header{out.data(), out.size()};
  PutU16(header, 0, static_cast<uint16_t>(out.size()));
  PutU16(header, 2, valueLength);
  PutU16(header, 4, text ? 1 : 0);
  return out;
}

// A parsed block: its key, its value's bytes, and its children's span.
struct VersionNode {
  std::u16string key;
  ByteView value{};
  ByteView children{};
  uint16_t length = 0;
};

uint64_t Align4(uint64_t at) { return (at + 3) / 4 * 4; }

bool ReadVersionNode(ByteView view, uint64_t at, VersionNode* node) {
  uint16_t length = 0, valueLength = 0, type = 0;
  ByteView block;
  if (!U16(view, at, &length) || !U16(view, at + 2, &valueLength) || !U16(view, at + 4, &type) || length < 6 ||
      !Sub(view, at, length, &block))
    return false;
  uint64_t cursor = 6;
  node->key.clear();
  for (uint16_t c = 0;; cursor += 2) {
    if (!U16(block, cursor, &c)) return false;
    if (c == 0) break;
    node->key += static_cast<char16_t>(c);
  }
  cursor = Align4(cursor + 2);
  const uint64_t valueBytes = std::min<uint64_t>(type == 1 ? uint64_t{valueLength} * 2 : valueLength,
                                                 cursor < length ? length - cursor : 0);
  node->value = ByteView{block.data + std::min<uint64_t>(cursor, length), static_cast<size_t>(valueBytes)};
  cursor = std::min<uint64_t>(Align4(cursor + valueBytes), length);
  node->children = ByteView{block.data + cursor, static_cast<size_t>(length - cursor)};
  node->length = length;
  return true;
}

// Calls `visit` for each child of `parent` until one does not parse.
template <typename Visit>
void ForEachChild(const VersionNode& parent, Visit visit) {
  VersionNode child;
  for (uint64_t at = 0; at < parent.children.size && ReadVersionNode(parent.children, at, &child);
       at = Align4(at + child.length))
    visit(child);
}

std::u16string TextOf(ByteView value) {
  std::u16string out;
  for (size_t i = 0; i + 1 < value.size; i += 2) {
    const char16_t c = static_cast<char16_t>(value.data[i] | value.data[i + 1] << 8);
    if (c == 0) break;
    out += c;
  }
  return out;
}

bool IsIconGroupApp(const Resource& resource) {
  return resource.type.name.empty() && resource.type.id == kResourceGroupIcon &&
         SameKey(resource.name, NameKey(kBrandIconGroup));
}

// The RT_ICON ids a group names.
std::vector<uint16_t> GroupImageIds(const ByteVector& group) {
  const ByteView view{group.data(), group.size()};
  std::vector<uint16_t> ids;
  uint16_t count = 0, id = 0;
  if (!U16(view, 4, &count)) return ids;
  for (uint32_t i = 0; i < count && U16(view, kIcoHeaderSize + uint64_t{i} * kGroupEntrySize + 12, &id); ++i)
    ids.push_back(id);
  return ids;
}

bool Fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

// What LoadStringA's copy of `text` takes at most in the ANSI code page of
// `language`: double-byte for Chinese, Japanese and Korean.
size_t AnsiBytes(const std::u16string& text, uint16_t language) {
  const uint16_t primary = language & 0x3FF;
  const size_t wide = primary == 0x04 || primary == 0x11 || primary == 0x12 ? 2 : 1;
  size_t bytes = 0;
  for (char16_t c : text) bytes += c < 0x80 ? 1 : (c >= 0xDC00 && c <= 0xDFFF) ? 0 : wide;
  return bytes;
}

}  // namespace

std::string Utf8Of(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    else if (c >= 0xD800 && c <= 0xDFFF)
      c = kUtf8Replacement;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool IsWellFormedUtf8(const std::string& text) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t at = 0, taken = 0; at < text.size(); at += taken) {
    // U+FFFD written as such is text; one made from a bad sequence is not.
    if (DecodeUtf8(bytes + at, text.size() - at, &taken) == kUtf8Replacement && taken == 1) return false;
  }
  return true;
}

bool ReplaceIcon(ByteView ico, std::vector<Resource>* resources, std::string* error) {
  uint16_t reserved = 1, type = 0, count = 0;
  if (!U16(ico, 0, &reserved) || !U16(ico, 2, &type) || !U16(ico, 4, &count) || reserved != 0 || type != 1)
    return Fail(error, "not an icon file: no icon directory");
  if (count == 0 || count > kMostIcoImages) return Fail(error, "not an icon file: it holds 0 or more than 256 images");
  const uint64_t directoryEnd = kIcoHeaderSize + uint64_t{count} * kIcoEntrySize;
  if (!SpanFits(ico.size, 0, directoryEnd)) return Fail(error, "not an icon file: its directory is cut short");
  std::vector<ByteView> images;
  ByteVector group;
  AppendU16(&group, 0);
  AppendU16(&group, 1);
  AppendU16(&group, count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = kIcoHeaderSize + uint64_t{i} * kIcoEntrySize;
    uint32_t size = 0, offset = 0, header = 0;
    ByteView image;
    U32(ico, at + 8, &size);
    U32(ico, at + 12, &offset);
    if (size == 0 || offset < directoryEnd || !Sub(ico, offset, size, &image))
      return Fail(error,
                  "not an icon file: image " + std::to_string(i + 1) + " lies outside the file or its directory");
    const bool png = size >= sizeof kPngSignature && std::equal(kPngSignature, kPngSignature + 8, image.data);
    if (!png && (!U32(image, 0, &header) || header != 40))
      return Fail(error, "not an icon file: image " + std::to_string(i + 1) + " is neither a BMP nor a PNG image");
    images.push_back(image);
    group.insert(group.end(), ico.data + at, ico.data + at + 12);  // width .. bytes in resource
    AppendU16(&group, 0);                                          // its id, set below
  }
  std::set<uint16_t> languages, oldIds, otherIds, iconIds;
  for (const Resource& resource : *resources) {
    if (IsIconGroupApp(resource)) {
      languages.insert(resource.language);
      for (uint16_t id : GroupImageIds(resource.data)) oldIds.insert(id);
    } else if (resource.type.name.empty() && resource.type.id == kResourceGroupIcon) {
      for (uint16_t id : GroupImageIds(resource.data)) otherIds.insert(id);
    }
  }
  const uint16_t language = languages.size() == 1 ? *languages.begin() : 0;
  std::vector<Resource> kept;
  for (Resource& resource : *resources) {
    const bool icon = resource.type.name.empty() && resource.type.id == kResourceIcon && resource.name.name.empty();
    if (IsIconGroupApp(resource) || (icon && oldIds.count(resource.name.id) && !otherIds.count(resource.name.id)))
      continue;
    if (icon) iconIds.insert(resource.name.id);
    kept.push_back(std::move(resource));
  }
  uint16_t next = 1;
  for (uint32_t i = 0; i < count; ++i, ++next) {
    while (iconIds.count(next)) ++next;
    if (next == 0) return Fail(error, "no free RT_ICON id is left");
    Resource image;
    image.type = IdKey(kResourceIcon);
    image.name = IdKey(next);
    image.language = language;
    image.data.assign(images[i].data, images[i].data + images[i].size);
    kept.push_back(std::move(image));
    const size_t idAt = kIcoHeaderSize + i * kGroupEntrySize + 12;
    PutU16(MutableByteView{group.data(), group.size()}, idAt, next);
  }
  Resource groupResource;
  groupResource.type = IdKey(kResourceGroupIcon);
  groupResource.name = NameKey(kBrandIconGroup);
  groupResource.language = language;
  groupResource.data = std::move(group);
  kept.push_back(std::move(groupResource));
  *resources = std::move(kept);
  return true;
}

bool ParseDottedVersion(const std::string& text, uint32_t* high, uint32_t* low) {
  uint32_t parts[4] = {0, 0, 0, 0};
  size_t part = 0, digits = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (digits == 0 || part == 4) return false;
      ++part;
      digits = 0;
      continue;
    }
    if (text[i] < '0' || text[i] > '9' || part == 4) return false;
    parts[part] = parts[part] * 10 + static_cast<uint32_t>(text[i] - '0');
    if (++digits > 5 || parts[part] > 0xFFFF) return false;
  }
  *high = parts[0] << 16 | parts[1];
  *low = parts[2] << 16 | parts[3];
  return true;
}

bool ReplaceVersionInfo(const VersionStrings& strings, std::vector<Resource>* resources, std::string* error) {
  const std::pair<const char*, const std::string*> fields[] = {
      {"CompanyName", &strings.companyName},         {"FileDescription", &strings.fileDescription},
      {"FileVersion", &strings.fileVersion},         {"LegalCopyright", &strings.legalCopyright},
      {"OriginalFilename", &strings.originalFilename}, {"ProductName", &strings.productName},
      {"ProductVersion", &strings.productVersion}};
  uint32_t file[2] = {0, 0}, product[2] = {0, 0};
  if (!strings.fileVersion.empty() && !ParseDottedVersion(strings.fileVersion, &file[0], &file[1]))
    return Fail(error, "the file version \"" + strings.fileVersion + "\" is not a dotted version (1.2.3.4)");
  if (!strings.productVersion.empty() && !ParseDottedVersion(strings.productVersion, &product[0], &product[1]))
    return Fail(error, "the product version \"" + strings.productVersion + "\" is not a dotted version (1.2.3.4)");
  if (strings.fileVersion.empty()) std::copy(product, product + 2, file);
  if (strings.productVersion.empty()) std::copy(file, file + 2, product);
  std::vector<ByteVector> entries;
  for (const auto& field : fields) {
    if (field.second->empty()) continue;
    if (!IsWellFormedUtf8(*field.second)) return Fail(error, std::string(field.first) + " is not UTF-8 text");
    const std::u16string text = Utf16Of(*field.second);
    if (text.size() > 0x7FF0) return Fail(error, std::string(field.first) + " is too long");
    ByteVector value;
    AppendText(&value, text);
    entries.push_back(VersionBlock(field.first, true, value, static_cast<uint16_t>(text.size() + 1), {}));
  }
  ByteVector fixed;
  // Signature, structure version, file and product versions, flags mask,
  // flags, VOS_NT_WINDOWS32, VFT_APP, subtype, date.
  for (uint32_t value : {0xFEEF04BDu, 0x00010000u, file[0], file[1], product[0], product[1], 0x3Fu, 0u, 0x40004u, 1u,
                         0u, 0u, 0u})
    AppendU32(&fixed, value);
  ByteVector translation;
  AppendU16(&translation, 0x0000);
  AppendU16(&translation, 0x04B0);
  const ByteVector root = VersionBlock(
      "VS_VERSION_INFO", false, fixed, static_cast<uint16_t>(fixed.size()),
      {VersionBlock("StringFileInfo", true, {}, 0, {VersionBlock("000004b0", true, {}, 0, entries)}),
       VersionBlock("VarFileInfo", true, {}, 0, {VersionBlock("Translation", false, translation, 4, {})})});
  if (root.size() > 0xFFFF) return Fail(error, "the version information exceeds 64 KiB");
  const auto isVersion = [](const Resource& r) { return r.type.name.empty() && r.type.id == kResourceVersion; };
  resources->erase(std::remove_if(resources->begin(), resources->end(), isVersion), resources->end());
  Resource version;
  version.type = IdKey(kResourceVersion);
  version.name = IdKey(1);
  version.data = root;
  resources->push_back(std::move(version));
  return true;
}

bool ParseMessages(ByteView file, uint16_t language, std::vector<std::u16string>* texts, std::string* error) {
  std::string text(reinterpret_cast<const char*>(file.data), file.size);
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::vector<std::u16string> found(kMessageCount);
  std::vector<bool> seen(kMessageCount, false);
  size_t lineNumber = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    const size_t equals = line.find('=');
    if (equals == std::string::npos) return Fail(error, where + "not ID=text");
    const std::string id = line.substr(0, equals);
    uint32_t index = kMessageCount;
    for (uint32_t i = 0; i < kMessageCount; ++i)
      if (id == std::to_string(kFirstMessageId + i)) index = i;
    if (index == kMessageCount)
      return Fail(error, where + "unknown id \"" + id + "\" (the messages are 100, 101 and 102)");
    if (seen[index]) return Fail(error, where + "message " + id + " is given twice");
    const std::string value = line.substr(equals + 1);
    if (!IsWellFormedUtf8(value)) return Fail(error, where + "not UTF-8 text");
    if (value.empty()) return Fail(error, where + "message " + id + " is empty");
    found[index] = Utf16Of(value);
    if (AnsiBytes(found[index], language) > kMessageBytes[index])
      return Fail(error, where + "message " + id + " is longer than the launcher's buffer of " +
                             std::to_string(kMessageBytes[index]) + " bytes");
    seen[index] = true;
  }
  for (uint32_t i = 0; i < kMessageCount; ++i)
    if (!seen[i]) return Fail(error, "message " + std::to_string(kFirstMessageId + i) + " is missing");
  *texts = std::move(found);
  return true;
}

void ReplaceMessages(uint16_t language, const std::vector<std::u16string>& texts, std::vector<Resource>* resources) {
  std::vector<std::u16string> block(kStringsPerBlock);
  Resource* existing = nullptr;
  for (Resource& resource : *resources)
    if (resource.type.name.empty() && resource.type.id == kResourceString &&
        SameKey(resource.name, IdKey(kMessageBlock)) && resource.language == language)
      existing = &resource;
  if (existing != nullptr) {
    const ByteView view{existing->data.data(), existing->data.size()};
    uint64_t at = 0;
    for (uint32_t i = 0; i < kStringsPerBlock; ++i) {
      uint16_t length = 0;
      ByteView chars;
      if (!U16(view, at, &length) || !Sub(view, at + 2, uint64_t{length} * 2, &chars)) break;
      block[i] = TextOf(chars).substr(0, length);
      at += 2 + uint64_t{length} * 2;
    }
  }
  for (uint32_t i = 0; i < kMessageCount; ++i) block[(kFirstMessageId + i) % kStringsPerBlock] = texts[i];
  ByteVector data;
  for (const std::u16string& text : block) {
    AppendU16(&data, static_cast<uint16_t>(text.size()));
    for (char16_t c : text) AppendU16(&data, c);
  }
  if (existing == nullptr) {
    Resource created;
    created.type = IdKey(kResourceString);
    created.name = IdKey(kMessageBlock);
    created.language = language;
    resources->push_back(std::move(created));
    existing = &resources->back();
  }
  existing->data = std::move(data);
}

BrandReport ReadBrand(const std::vector<Resource>& resources) {
  BrandReport report;
  std::set<uint16_t> languages;
  for (const Resource& resource : resources) {
    if (!resource.type.name.empty()) continue;
    if (IsIconGroupApp(resource) && !report.hasIcon) {
      report.hasIcon = true;
      const ByteView view{resource.data.data(), resource.data.size()};
      uint16_t count = 0, bits = 0;
      U16(view, 4, &count);
      for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at = kIcoHeaderSize + uint64_t{i} * kGroupEntrySize;
        if (!SpanFits(view.size, at, kGroupEntrySize) || !U16(view, at + 6, &bits)) break;
        // A width or height of 0 stands for 256.
        const uint32_t width = view.data[at] == 0 ? 256 : view.data[at];
        const uint32_t height = view.data[at + 1] == 0 ? 256 : view.data[at + 1];
        report.iconSizes.push_back(std::to_string(width) + "x" + std::to_string(height) + " " +
                                   std::to_string(bits) + "-bit");
      }
    } else if (resource.type.id == kResourceString && SameKey(resource.name, IdKey(kMessageBlock))) {
      languages.insert(resource.language);
    } else if (resource.type.id == kResourceVersion && report.version.empty()) {
      VersionNode root;
      if (!ReadVersionNode(ByteView{resource.data.data(), resource.data.size()}, 0, &root)) continue;
      ForEachChild(root, [&](const VersionNode& info) {
        if (info.key != Ascii16("StringFileInfo")) return;
        ForEachChild(info, [&](const VersionNode& table) {
          ForEachChild(table, [&](const VersionNode& entry) {
            report.version.emplace_back(Utf8Of(entry.key), Utf8Of(TextOf(entry.value)));
          });
        });
      });
    }
  }
  report.messageLanguages.assign(languages.begin(), languages.end());
  return report;
}

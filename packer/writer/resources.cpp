#include "packer/writer/resources.h"

#include <algorithm>
#include <map>

#include "packer/writer/pe_placement.h"
#include "payload/pe_image.h"

namespace {

constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kRelocationDirectoryIndex = 5;
constexpr uint32_t kOptionalHeaderAt = 24;     // from e_lfanew: signature and file header
constexpr uint32_t kSectionEntrySize = 40;
constexpr uint32_t kDirectorySize = 16;        // IMAGE_RESOURCE_DIRECTORY
constexpr uint32_t kEntrySize = 8;             // IMAGE_RESOURCE_DIRECTORY_ENTRY
constexpr uint32_t kDataEntrySize = 16;        // IMAGE_RESOURCE_DATA_ENTRY
constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kMostResources = 65536;
// Directory entries a walk visits at most: entries that share a directory
// are walked once per path to it.
constexpr size_t kMostVisits = 1 << 20;

void PutU16At(ByteVector* bytes, size_t at, uint16_t value) {
  PutU16(MutableByteView{bytes->data(), bytes->size()}, at, value);
}

void PutU32At(ByteVector* bytes, size_t at, uint32_t value) {
  PutU32(MutableByteView{bytes->data(), bytes->size()}, at, value);
}

uint64_t AlignTo(uint64_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// One row of the section table, with the file offset of the row.
struct Section {
  uint64_t headerAt = 0;
  char name[9] = {};
  uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawOffset = 0;
};

// The headers the rewrite touches, read from a Complete PE image.
struct PeHeaderFields {
  PeImage image{};
  uint64_t optionalAt = 0;
  uint64_t directoriesAt = 0;
  uint32_t sectionAlignment = 0, fileAlignment = 0;
  std::vector<Section> sections;
};

bool ReadHeaderFields(ByteView file, PeHeaderFields* fields, std::string* error) {
  if (ReadPeImage(file, &fields->image) != PeHeaders::Complete) {
    *error = "not a PE image";
    return false;
  }
  const PeImage& image = fields->image;
  fields->optionalAt = uint64_t{image.lfanew} + kOptionalHeaderAt;
  fields->directoriesAt = fields->optionalAt + (image.magic == kPe32Magic ? 96 : 112);
  uint16_t optionalSize = 0;
  const uint32_t count = PeSectionCount(file, image);
  if (!U16(file, uint64_t{image.lfanew} + 20, &optionalSize) ||
      !U32(file, fields->optionalAt + 32, &fields->sectionAlignment) ||
      !U32(file, fields->optionalAt + 36, &fields->fileAlignment) || fields->sectionAlignment == 0 ||
      fields->fileAlignment == 0) {
    *error = "the PE optional header cannot be read";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    Section section;
    section.headerAt = fields->optionalAt + optionalSize + uint64_t{i} * kSectionEntrySize;
    ByteView name;
    if (!Sub(file, section.headerAt, 8, &name) || !U32(file, section.headerAt + 8, &section.virtualSize) ||
        !U32(file, section.headerAt + 12, &section.virtualAddress) ||
        !U32(file, section.headerAt + 16, &section.rawSize) || !U32(file, section.headerAt + 20, &section.rawOffset)) {
      *error = "the section table passes the end of the file";
      return false;
    }
    std::copy(name.data, name.data + 8, section.name);
    fields->sections.push_back(section);
  }
  return true;
}

bool ReadDirectory(ByteView file, const PeHeaderFields& fields, uint32_t index, uint32_t* rva, uint32_t* size) {
  *rva = *size = 0;
  return index >= fields.image.directoryCount ||
         (U32(file, fields.directoriesAt + 8 * index, rva) && U32(file, fields.directoriesAt + 8 * index + 4, size));
}

// The section whose virtual range holds `rva`; count when none does.
size_t SectionHolding(const PeHeaderFields& fields, uint32_t rva) {
  for (size_t i = 0; i < fields.sections.size(); ++i) {
    const Section& s = fields.sections[i];
    if (rva >= s.virtualAddress && rva - s.virtualAddress < std::max(s.virtualSize, s.rawSize)) return i;
  }
  return fields.sections.size();
}

// --- reading the tree ---------------------------------------------------------

struct TreeReader {
  ByteView raw;
  uint32_t virtualAddress;
  std::vector<Resource>* resources;
  std::string* error;
  size_t* visits;
};

bool Fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

bool ReadKey(const TreeReader& reader, uint32_t nameField, ResourceKey* key) {
  *key = ResourceKey{};
  if ((nameField & kHighBit) == 0) {
    if (nameField > 0xFFFF) return Fail(reader.error, "a resource id does not fit 16 bits");
    key->id = static_cast<uint16_t>(nameField);
    return true;
  }
  const uint32_t at = nameField & ~kHighBit;
  uint16_t length = 0;
  ByteView chars;
  if (!U16(reader.raw, at, &length) || length == 0 || !Sub(reader.raw, uint64_t{at} + 2, uint64_t{length} * 2, &chars))
    return Fail(reader.error, "a resource name lies outside .rsrc");
  for (uint32_t i = 0; i < length; ++i)
    key->name += static_cast<char16_t>(chars.data[2 * i] | chars.data[2 * i + 1] << 8);
  return true;
}

// Reads the directory at `at` on `level` (0 type, 1 name, 2 language) into
// `path`'s resources.
bool ReadTreeLevel(const TreeReader& reader, uint32_t at, int level, Resource* path) {
  uint16_t named = 0, ids = 0;
  if (!U16(reader.raw, uint64_t{at} + 12, &named) || !U16(reader.raw, uint64_t{at} + 14, &ids) ||
      !SpanFits(reader.raw.size, uint64_t{at} + kDirectorySize, (uint64_t{named} + ids) * kEntrySize))
    return Fail(reader.error, "a resource directory lies outside .rsrc");
  for (uint32_t i = 0; i < uint32_t{named} + ids; ++i) {
    if (++*reader.visits > kMostVisits) return Fail(reader.error, "the resource tree has too many entries");
    const uint64_t entryAt = uint64_t{at} + kDirectorySize + uint64_t{i} * kEntrySize;
    uint32_t nameField = 0, target = 0;
    U32(reader.raw, entryAt, &nameField);
    U32(reader.raw, entryAt + 4, &target);
    const bool subdirectory = (target & kHighBit) != 0;
    if (subdirectory != (level < 2)) return Fail(reader.error, "the resource tree does not have three levels");
    if (level == 0 && !ReadKey(reader, nameField, &path->type)) return false;
    if (level == 1 && !ReadKey(reader, nameField, &path->name)) return false;
    if (level < 2) {
      if (!ReadTreeLevel(reader, target & ~kHighBit, level + 1, path)) return false;
      continue;
    }
    if (nameField & kHighBit || nameField > 0xFFFF) return Fail(reader.error, "a resource language is no LANGID");
    path->language = static_cast<uint16_t>(nameField);
    uint32_t dataRva = 0, dataSize = 0;
    ByteView data;
    if (!U32(reader.raw, target, &dataRva) || !U32(reader.raw, uint64_t{target} + 4, &dataSize) ||
        !U32(reader.raw, uint64_t{target} + 8, &path->codePage) || dataRva < reader.virtualAddress ||
        !Sub(reader.raw, dataRva - reader.virtualAddress, dataSize, &data))
      return Fail(reader.error, "a resource's data lies outside .rsrc");
    if (reader.resources->size() == kMostResources) return Fail(reader.error, "more than 65536 resources");
    path->data.assign(data.data, data.data + data.size);
    reader.resources->push_back(*path);
  }
  return true;
}

// --- writing the tree ---------------------------------------------------------

bool KeyLess(const ResourceKey& a, const ResourceKey& b) {
  if (a.name.empty() != b.name.empty()) return !a.name.empty();  // names first
  return a.name.empty() ? a.id < b.id : a.name < b.name;
}

struct KeyOrder {
  bool operator()(const ResourceKey& a, const ResourceKey& b) const { return KeyLess(a, b); }
};

using LanguageLevel = std::map<uint16_t, const Resource*>;
using NameLevel = std::map<ResourceKey, LanguageLevel, KeyOrder>;
using TypeLevel = std::map<ResourceKey, NameLevel, KeyOrder>;

uint32_t DirectoryBytes(size_t entries) { return kDirectorySize + static_cast<uint32_t>(entries) * kEntrySize; }

// Writes a directory header at `at` for `entries`, of which `named` have names.
void PutDirectory(ByteVector* out, size_t at, size_t named, size_t entries) {
  PutU16At(out, at + 12, static_cast<uint16_t>(named));
  PutU16At(out, at + 14, static_cast<uint16_t>(entries - named));
}

template <typename Level>
size_t NamedCount(const Level& level) {
  size_t named = 0;
  for (const auto& item : level) named += item.first.name.empty() ? 0 : 1;
  return named;
}

}  // namespace

ResourceKey IdKey(uint16_t id) {
  ResourceKey key;
  key.id = id;
  return key;
}

ResourceKey NameKey(const char* ascii) {
  ResourceKey key;
  for (const char* p = ascii; *p != '\0'; ++p) key.name += static_cast<char16_t>(*p);
  return key;
}

bool SameKey(const ResourceKey& a, const ResourceKey& b) { return a.id == b.id && a.name == b.name; }

bool FindResourceSection(ByteView file, ResourceSection* section, std::string* error) {
  PeHeaderFields fields;
  if (!ReadHeaderFields(file, &fields, error)) return false;
  uint32_t rva = 0, size = 0;
  if (!ReadDirectory(file, fields, kResourceDirectoryIndex, &rva, &size))
    return Fail(error, "the data directories cannot be read");
  const size_t index = SectionHolding(fields, rva);
  if (size == 0 || index == fields.sections.size()) return Fail(error, "the image has no resources");
  const Section& s = fields.sections[index];
  ByteView raw;
  if (!Sub(file, s.rawOffset, s.rawSize, &raw)) return Fail(error, "the resource section passes the end of the file");
  // The root must start the section: it is what the rewrite replaces whole.
  if (rva != s.virtualAddress) return Fail(error, "the resource directory does not start its section");
  section->index = static_cast<uint32_t>(index);
  section->virtualAddress = s.virtualAddress;
  section->raw = raw;
  return true;
}

bool ReadResources(const ResourceSection& section, std::vector<Resource>* resources, std::string* error) {
  resources->clear();
  size_t visits = 0;
  const TreeReader reader{section.raw, section.virtualAddress, resources, error, &visits};
  Resource path;
  return ReadTreeLevel(reader, 0, 0, &path);
}

ByteVector BuildResourceSection(const std::vector<Resource>& resources, uint32_t virtualAddress) {
  TypeLevel tree;
  for (const Resource& resource : resources) tree[resource.type][resource.name].emplace(resource.language, &resource);
  // Directories breadth first, then data entries, names, and data (8-aligned).
  uint32_t directories = DirectoryBytes(tree.size()), dataEntries = 0;
  std::vector<const ResourceKey*> names;
  for (const auto& type : tree) {
    directories += DirectoryBytes(type.second.size());
    if (!type.first.name.empty()) names.push_back(&type.first);
    for (const auto& name : type.second) {
      directories += DirectoryBytes(name.second.size());
      dataEntries += static_cast<uint32_t>(name.second.size());
      if (!name.first.name.empty()) names.push_back(&name.first);
    }
  }
  uint64_t cursor = directories + uint64_t{dataEntries} * kDataEntrySize;
  std::map<const ResourceKey*, uint32_t> nameAt;
  for (const ResourceKey* name : names) {
    nameAt[name] = static_cast<uint32_t>(cursor);
    cursor += 2 + 2 * name->name.size();
  }
  ByteVector out(static_cast<size_t>(AlignTo(cursor, 8)), 0);
  uint32_t dirCursor = 0, entryCursor = directories;
  // Each level's directories follow the previous level's, in key order.
  const uint32_t rootAt = dirCursor;
  dirCursor += DirectoryBytes(tree.size());
  PutDirectory(&out, rootAt, NamedCount(tree), tree.size());
  std::vector<std::pair<uint32_t, const NameLevel*>> nameDirs;
  size_t i = 0;
  for (const auto& type : tree) {
    const size_t entryAt = rootAt + kDirectorySize + kEntrySize * i++;
    PutU32At(&out, entryAt, type.first.name.empty() ? type.first.id : (kHighBit | nameAt[&type.first]));
    PutU32At(&out, entryAt + 4, kHighBit | dirCursor);
    PutDirectory(&out, dirCursor, NamedCount(type.second), type.second.size());
    nameDirs.emplace_back(dirCursor, &type.second);
    dirCursor += DirectoryBytes(type.second.size());
  }
  std::vector<std::pair<uint32_t, const LanguageLevel*>> languageDirs;
  for (const auto& level : nameDirs) {
    i = 0;
    for (const auto& name : *level.second) {
      const size_t entryAt = level.first + kDirectorySize + kEntrySize * i++;
      PutU32At(&out, entryAt, name.first.name.empty() ? name.first.id : (kHighBit | nameAt[&name.first]));
      PutU32At(&out, entryAt + 4, kHighBit | dirCursor);
      PutDirectory(&out, dirCursor, 0, name.second.size());
      languageDirs.emplace_back(dirCursor, &name.second);
      dirCursor += DirectoryBytes(name.second.size());
    }
  }
  for (const auto& level : languageDirs) {
    i = 0;
    for (const auto& language : *level.second) {
      const size_t entryAt = level.first + kDirectorySize + kEntrySize * i++;
      PutU32At(&out, entryAt, language.first);
      PutU32At(&out, entryAt + 4, entryCursor);
      const Resource& resource = *language.second;
      PutU32At(&out, entryCursor, virtualAddress + static_cast<uint32_t>(out.size()));
      PutU32At(&out, entryCursor + 4, static_cast<uint32_t>(resource.data.size()));
      PutU32At(&out, entryCursor + 8, resource.codePage);
      entryCursor += kDataEntrySize;
      out.insert(out.end(), resource.data.begin(), resource.data.end());
      out.resize(static_cast<size_t>(AlignTo(out.size(), 8)), 0);
    }
  }
  for (const auto& name : nameAt) {
    PutU16At(&out, name.second, static_cast<uint16_t>(name.first->name.size()));
    for (size_t c = 0; c < name.first->name.size(); ++c) PutU16At(&out, name.second + 2 + 2 * c, name.first->name[c]);
  }
  return out;
}

bool ReplaceResources(const ByteVector& exe, const std::vector<Resource>& resources, ByteVector* out,
                      std::string* error) {
  const ByteView file{exe.data(), exe.size()};
  PeHeaderFields fields;
  ResourceSection rsrc;
  if (!ReadHeaderFields(file, &fields, error) || !FindResourceSection(file, &rsrc, error)) return false;
  if (IsSignedImage(fields.image)) return Fail(error, "the image is signed: change its resources before signing");
  const size_t last = fields.sections.size() - 1;
  const bool relocFollows = rsrc.index + 1 == last;
  if (rsrc.index != last && !(relocFollows && std::string(fields.sections[last].name) == ".reloc"))
    return Fail(error, std::string("a section other than .reloc follows the resources (") + fields.sections[last].name +
                           "): this layout cannot be rewritten");
  uint64_t end = 0;
  for (const Section& s : fields.sections) end = std::max(end, uint64_t{s.rawOffset} + s.rawSize);
  if (end != exe.size())
    return Fail(error,
                "the image carries data after its last section (a payload or a symbol table): brand the bare stub");
  Section old = fields.sections[rsrc.index];
  if (old.rawOffset % fields.fileAlignment != 0) return Fail(error, "the resource section is not file-aligned");
  // Other directories must not point into what moves.
  uint32_t relocRva = 0, relocSize = 0;
  ReadDirectory(file, fields, kRelocationDirectoryIndex, &relocRva, &relocSize);
  for (uint32_t d = 0; d < std::min<uint32_t>(fields.image.directoryCount, 16); ++d) {
    uint32_t rva = 0, size = 0;
    if (d == kResourceDirectoryIndex || d == kRelocationDirectoryIndex || d == kSecurityDirectoryIndex ||
        !ReadDirectory(file, fields, d, &rva, &size) || size == 0)
      continue;
    const size_t holder = SectionHolding(fields, rva);
    if (holder == rsrc.index || (relocFollows && holder == last))
      return Fail(error, "data directory " + std::to_string(d) + " points into the resources or relocations");
  }
  if (relocSize != 0 && (!relocFollows || SectionHolding(fields, relocRva) != last))
    return Fail(error, "the relocations do not lie in the .reloc section after the resources");

  const ByteVector rsrcBytes = BuildResourceSection(resources, old.virtualAddress);
  const uint64_t newRaw = AlignTo(rsrcBytes.size(), fields.fileAlignment);
  const uint64_t rsrcEnd = uint64_t{old.rawOffset} + newRaw;
  uint64_t imageEnd = AlignTo(uint64_t{old.virtualAddress} + rsrcBytes.size(), fields.sectionAlignment);
  ByteVector result(exe.begin(), exe.begin() + old.rawOffset);
  result.insert(result.end(), rsrcBytes.begin(), rsrcBytes.end());
  result.resize(static_cast<size_t>(rsrcEnd), 0);
  const MutableByteView view{result.data(), result.size()};
  PutU32(view, old.headerAt + 8, static_cast<uint32_t>(rsrcBytes.size()));
  PutU32(view, old.headerAt + 16, static_cast<uint32_t>(newRaw));
  PutU32(view, fields.directoriesAt + 8 * kResourceDirectoryIndex, old.virtualAddress);
  PutU32(view, fields.directoriesAt + 8 * kResourceDirectoryIndex + 4, static_cast<uint32_t>(rsrcBytes.size()));
  if (relocFollows) {
    const Section& reloc = fields.sections[last];
    const uint64_t relocVa = imageEnd;
    result.insert(result.end(), exe.begin() + reloc.rawOffset, exe.begin() + reloc.rawOffset + reloc.rawSize);
    imageEnd = AlignTo(relocVa + std::max(reloc.virtualSize, reloc.rawSize), fields.sectionAlignment);
    if (imageEnd > 0xFFFFFFFFu || result.size() > 0xFFFFFFFFu) return Fail(error, "the image would exceed 4 GiB");
    const MutableByteView grown{result.data(), result.size()};
    PutU32(grown, reloc.headerAt + 12, static_cast<uint32_t>(relocVa));
    PutU32(grown, reloc.headerAt + 20, static_cast<uint32_t>(rsrcEnd));
    if (relocSize != 0)
      PutU32(grown, fields.directoriesAt + 8 * kRelocationDirectoryIndex,
             static_cast<uint32_t>(relocVa + (relocRva - reloc.virtualAddress)));
  }
  if (imageEnd > 0xFFFFFFFFu) return Fail(error, "the image would exceed 4 GiB");
  const MutableByteView final{result.data(), result.size()};
  uint32_t initialized = 0;
  U32(ByteView{result.data(), result.size()}, fields.optionalAt + 8, &initialized);
  PutU32(final, fields.optionalAt + 8, static_cast<uint32_t>(initialized - old.rawSize + newRaw));
  PutU32(final, fields.optionalAt + 56, static_cast<uint32_t>(imageEnd));
  if (!RecomputePeChecksum(&result)) return Fail(error, "cannot rewrite the PE checksum");
  *out = std::move(result);
  return true;
}

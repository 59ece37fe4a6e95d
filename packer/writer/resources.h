// A PE image's resources as a flat list: read from its .rsrc section, edited,
// and written back as a new .rsrc (the launcher's branding: icon, version
// information, messages). Portable byte work over bounded views; the same
// bytes come out of the Linux and the Windows packer.
//
// The resource tree has three levels (type, name, language); each entry
// names its key by a 16-bit id or by a UTF-16 string. The writer lays the
// tree out in one fixed order (named entries first, by code units, then ids
// ascending, as the loader's binary search expects), so that equal lists give
// equal bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_view.h"
#include "packer/writer/payload_writer.h"

constexpr uint16_t kResourceIcon = 3;         // RT_ICON
constexpr uint16_t kResourceString = 6;       // RT_STRING
constexpr uint16_t kResourceGroupIcon = 14;   // RT_GROUP_ICON
constexpr uint16_t kResourceVersion = 16;     // RT_VERSION

// A type or name key: an id, or a name when `name` is not empty.
struct ResourceKey {
  uint16_t id = 0;
  std::u16string name;
};

struct Resource {
  ResourceKey type;
  ResourceKey name;
  uint16_t language = 0;
  uint32_t codePage = 0;  // the data entry's, kept as read
  ByteVector data;
};

ResourceKey IdKey(uint16_t id);
ResourceKey NameKey(const char* ascii);
bool SameKey(const ResourceKey& a, const ResourceKey& b);

// Where the resources of a PE image lie: its .rsrc section (the one data
// directory 2 points into), and whether anything in the file stops the
// resources from being rewritten (*whyNot, empty when they can be).
struct ResourceSection {
  uint32_t index = 0;           // in the section table
  uint32_t virtualAddress = 0;
  ByteView raw{};               // its raw data
};

// Finds the section that holds the resource directory of the PE image
// `file`. False with *error set when the file is no PE image or has no
// resources.
bool FindResourceSection(ByteView file, ResourceSection* section, std::string* error);

// Reads every resource of the section, in tree order. The tree must have
// its three levels, every offset and data RVA must lie inside the section's
// raw data, and at most 65536 resources and 2^20 directory entries are taken
// (a tree whose entries point at shared directories could otherwise name
// billions). False with
// *error set otherwise; *resources is then unspecified.
bool ReadResources(const ResourceSection& section, std::vector<Resource>* resources, std::string* error);

// The .rsrc bytes of `resources` placed at `virtualAddress` (data entries
// hold RVAs). Resources with equal keys are the caller's fault: each is
// written, the loader finds the first.
ByteVector BuildResourceSection(const std::vector<Resource>& resources, uint32_t virtualAddress);

// The image `exe` with its .rsrc replaced by `resources`. .rsrc must be the
// last section, or be followed only by .reloc, which moves behind the new
// .rsrc (its blocks hold RVAs of other sections only). Data directories 2
// and 5, the two section headers, SizeOfImage, SizeOfInitializedData and the
// checksum (when set) follow; every byte before .rsrc's raw data but the
// headers stays as it was. Refuses a signed image, bytes behind the last
// section (a payload, a symbol table) and any other layout, with *error
// set; *out is then untouched.
bool ReplaceResources(const ByteVector& exe, const std::vector<Resource>& resources, ByteVector* out,
                      std::string* error);

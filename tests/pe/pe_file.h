// A built Windows program read as bytes, independently of the code that
// made it: its headers, import table and resources.
//
// Offsets used (PE32, little-endian):
//   0x3C          u32  offset of the "PE\0\0" signature
//   sig + 4       COFF header: +2 u16 section count, +16 u16 optional header size
//   sig + 24      optional header: +0 u16 magic 0x10B, +70 u16 DllCharacteristics,
//                 +92 u32 directory count, +96 directories (RVA, size), 8 bytes each:
//                 1 imports, 2 resources, 13 delay-load imports
//   after it      sections, 40 bytes each: +8 virtual size, +12 RVA, +16 raw size, +20 raw offset
//   imports       20-byte descriptors, +12 RVA of the DLL's name; all zero ends them
//   resources     directories (16 bytes: +12 u16 named, +14 u16 id entries), then
//                 8-byte entries (id, offset; high bit set: a directory), leaves
//                 (+0 RVA of the data, +4 size); levels type, name, language
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pe {

struct Resource {
    std::string bytes;
    uint16_t language = 0;
};

struct File {
    std::string bytes;
    bool valid = false;  // a PE32 file whose headers lie inside it
    uint16_t dll_characteristics = 0;
    std::vector<std::string> imports;  // DLL names, lower case
    bool delay_imports = false;
    uint32_t resource_rva = 0;
    uint32_t import_rva = 0;

    explicit File(const std::string &path);
    // The first language of resource type/id, if there is one.
    std::optional<Resource> resource(uint16_t type, uint16_t id) const;

private:
    struct Section {
        uint32_t rva, size, raw, raw_size;
    };
    std::vector<Section> sections_;
    std::optional<size_t> offset(uint32_t rva) const;
    uint32_t u32(size_t at) const;
    uint16_t u16(size_t at) const;
};

// One node of a version resource: its key, its value (text for string
// nodes, bytes otherwise) and its children.
struct VersionNode {
    std::u16string key;
    bool text = false;
    std::string value;     // binary value
    std::u16string string;  // text value, without its terminator
    std::vector<VersionNode> children;
    const VersionNode *child(const std::u16string &name) const;
};
std::optional<VersionNode> parse_version(const std::string &bytes);

std::u16string utf16(const std::string &utf8);

}  // namespace pe

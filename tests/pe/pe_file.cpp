#include "tests/pe/pe_file.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace pe {

uint16_t File::u16(size_t at) const
{
    uint16_t v = 0;
    if (at + 2 <= bytes.size()) std::memcpy(&v, bytes.data() + at, 2);
    return v;
}

uint32_t File::u32(size_t at) const
{
    uint32_t v = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

std::optional<size_t> File::offset(uint32_t rva) const
{
    for (const Section &s : sections_)
        if (rva >= s.rva && rva - s.rva < s.raw_size && rva - s.rva < std::max(s.size, s.raw_size))
            return size_t{s.raw} + (rva - s.rva);
    return std::nullopt;
}

File::File(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    const size_t sig = u32(0x3C);
    if (bytes.size() < 64 || sig + 24 + 96 > bytes.size() || bytes.compare(sig, 4, std::string("PE\0\0", 4)) != 0) return;
    const size_t opt = sig + 24;
    if (u16(opt) != 0x10B) return;
    dll_characteristics = u16(opt + 70);
    const uint32_t directories = u32(opt + 92);
    auto directory = [&](uint32_t i) { return i < directories ? u32(opt + 96 + 8 * i) : 0u; };
    import_rva = directory(1);
    resource_rva = directory(2);
    delay_imports = directory(13) != 0;
    const size_t table = opt + u16(sig + 4 + 16);
    for (uint16_t i = 0; i < u16(sig + 4 + 2); ++i) {
        const size_t s = table + 40 * size_t{i};
        if (s + 40 > bytes.size()) return;
        sections_.push_back({u32(s + 12), u32(s + 8), u32(s + 20), u32(s + 16)});
    }
    for (uint32_t d = import_rva; d; d += 20) {
        const auto at = offset(d);
        if (!at || *at + 20 > bytes.size()) return;
        if (u32(*at + 12) == 0) break;
        const auto name = offset(u32(*at + 12));
        if (!name) return;
        std::string dll(bytes.c_str() + *name);
        for (char &c : dll) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        imports.push_back(dll);
    }
    valid = true;
}

std::optional<Resource> File::resource(uint16_t type, uint16_t id) const
{
    const auto root = offset(resource_rva);
    if (!root) return std::nullopt;
    // The entry of `want` (any when negative) in the directory at `dir`:
    // its id and offset from the root.
    auto find = [&](size_t dir, long want) -> std::optional<std::pair<uint32_t, uint32_t>> {
        const uint32_t count = u16(dir + 12) + u16(dir + 14);
        for (uint32_t i = 0; i < count; ++i) {
            const size_t e = dir + 16 + 8 * size_t{i};
            if (want < 0 || u32(e) == static_cast<uint32_t>(want)) return std::pair{u32(e), u32(e + 4)};
        }
        return std::nullopt;
    };
    const auto t = find(*root, type);
    if (!t || !(t->second & 0x80000000u)) return std::nullopt;
    const auto n = find(*root + (t->second & 0x7FFFFFFFu), id);
    if (!n || !(n->second & 0x80000000u)) return std::nullopt;
    const auto l = find(*root + (n->second & 0x7FFFFFFFu), -1);
    if (!l || (l->second & 0x80000000u)) return std::nullopt;
    const size_t leaf = *root + l->second;
    const auto data = offset(u32(leaf));
    const uint32_t size = u32(leaf + 4);
    if (!data || *data + size > bytes.size()) return std::nullopt;
    return Resource{bytes.substr(*data, size), static_cast<uint16_t>(l->first)};
}

const VersionNode *VersionNode::child(const std::u16string &name) const
{
    for (const VersionNode &c : children)
        if (c.key == name) return &c;
    return nullptr;
}

namespace {

// A node: u16 length, u16 value length (words for text), u16 type (1 text),
// the key in UTF-16 with its terminator, padding to 4, the value, padding,
// the children.
std::optional<VersionNode> parse_node(const std::string &b, size_t at, size_t end)
{
    auto word = [&](size_t p) { return p + 2 <= end ? static_cast<uint16_t>(uint8_t(b[p]) | uint8_t(b[p + 1]) << 8) : uint16_t{0}; };
    const size_t length = word(at), value_length = word(at + 2);
    if (length < 6 || at + length > end) return std::nullopt;
    end = at + length;
    VersionNode node;
    node.text = word(at + 4) == 1;
    size_t p = at + 6;
    for (; p + 2 <= end && word(p); p += 2) node.key += static_cast<char16_t>(word(p));
    p = (p + 2 + 3) & ~size_t{3};
    const size_t value_bytes = node.text ? 2 * value_length : value_length;
    if (p + value_bytes > end) return std::nullopt;
    if (node.text) {
        for (size_t q = p; q < p + value_bytes && word(q); q += 2) node.string += static_cast<char16_t>(word(q));
    } else {
        node.value = b.substr(p, value_bytes);
    }
    p = (p + value_bytes + 3) & ~size_t{3};
    while (p + 6 <= end) {
        auto child = parse_node(b, p, end);
        if (!child) return std::nullopt;
        p = (p + word(p) + 3) & ~size_t{3};
        node.children.push_back(*child);
    }
    return node;
}

}  // namespace

std::optional<VersionNode> parse_version(const std::string &bytes) { return parse_node(bytes, 0, bytes.size()); }

std::u16string utf16(const std::string &utf8)
{
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<uint8_t>(utf8[i]);
        const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        uint32_t cp = n == 1 ? c : c & (0x3F >> (n - 1));
        for (int k = 1; k < n && i + k < utf8.size(); ++k) cp = cp << 6 | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += static_cast<size_t>(n);
    }
    return out;
}

}  // namespace pe

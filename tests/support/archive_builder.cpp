#include "tests/support/archive_builder.h"

#include <zlib.h>
#if KORIN_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>

namespace fixtures {

namespace fs = std::filesystem;

Bytes bytes_of(const std::string &text) { return Bytes(text.begin(), text.end()); }

Bytes pattern_bytes(size_t count, uint32_t seed)
{
    Bytes out(count);
    uint32_t x = seed ? seed : 1;
    for (auto &b : out) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = static_cast<uint8_t>(x % 7 == 0 ? x >> 8 : 'a' + x % 5);  // compressible, not trivial
    }
    return out;
}

Bytes masked_stream(const Bytes &data)
{
#if KORIN_LIBDEFLATE
    // The codec the build packs with, at its default level.
    libdeflate_compressor *c = libdeflate_alloc_compressor(6);
    Bytes out(libdeflate_zlib_compress_bound(c, data.size()));
    const size_t n = libdeflate_zlib_compress(c, data.data(), data.size(), out.data(), out.size());
    libdeflate_free_compressor(c);
    if (n == 0) throw std::runtime_error("masked_stream: libdeflate_zlib_compress failed");
    out.resize(n);
    out[0] ^= kMask;
    return out;
#else
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        throw std::runtime_error("masked_stream: compress2 failed");
    out.resize(size);
    out[0] ^= kMask;
    return out;
#endif
}

Bytes packed_block(const Bytes &data)
{
    const Bytes stream = masked_stream(data);
    Bytes out(8);
    put_u32(out, 0, static_cast<uint32_t>(data.size()));
    put_u32(out, 4, static_cast<uint32_t>(stream.size()));
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

std::optional<Bytes> unmask_and_inflate(const Bytes &stream, size_t expected_size)
{
    if (stream.empty()) return std::nullopt;
    Bytes in = stream, out(expected_size + 1);  // one spare byte tells a longer output apart
    in[0] ^= kMask;
    uLongf size = static_cast<uLongf>(out.size());
    if (uncompress(out.data(), &size, in.data(), static_cast<uLong>(in.size())) != Z_OK || size != expected_size)
        return std::nullopt;
    out.resize(size);
    return out;
}

Entry raw_entry(const std::string &name, const Bytes &data)
{
    Entry e;
    e.name = name, e.data = data;
    return e;
}
Entry raw_entry(const std::string &name, const std::string &text) { return raw_entry(name, bytes_of(text)); }
Entry packed_entry(const std::string &name, const Bytes &data) { return raw_entry(name, packed_block(data)); }
Entry free_entry(const std::string &name, const Bytes &data)
{
    Entry e = raw_entry(name, data);
    e.free = true;
    return e;
}

void put_u32(Bytes &bytes, size_t offset, uint32_t value)
{
    if (bytes.size() < offset + 4) bytes.resize(offset + 4);
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get_u32(const Bytes &bytes, size_t offset)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | bytes.at(offset + i);
    return v;
}

static void put_u16(Bytes &bytes, size_t offset, uint16_t value)
{
    bytes.at(offset) = static_cast<uint8_t>(value);
    bytes.at(offset + 1) = static_cast<uint8_t>(value >> 8);
}

static Bytes directory_bytes(const std::vector<Entry> &entries, const std::vector<uint32_t> &offsets)
{
    Bytes dir(entries.size() * 64);
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry &e = entries[i];
        if (e.name.size() > 40) throw std::invalid_argument("entry name longer than its 40-byte field");
        put_u32(dir, i * 64, e.stored_size ? *e.stored_size : static_cast<uint32_t>(e.data.size()));
        put_u32(dir, i * 64 + 4, e.data_offset ? *e.data_offset : (e.free ? 0 : offsets.at(i)));
        uint8_t *rec = dir.data() + i * 64;
        std::memcpy(rec + 8, e.reserved.data(), 16);
        std::memset(rec + 24, e.name_fill, 40);
        std::memcpy(rec + 24, e.name.data(), e.name.size());
        if (e.name.size() < 40) rec[24 + e.name.size()] = 0;
    }
    return dir;
}

Bytes build(const Archive &a, Layout *layout)
{
    Bytes out(24), dir;
    std::vector<uint32_t> offsets;
    for (const Entry &e : a.entries) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    const uint32_t dir_offset = static_cast<uint32_t>(out.size());
    uint32_t packed_size = 0;
    if (!a.entries.empty() || a.empty_directory_space) {
        dir = a.entries.empty() ? Bytes(4096) : directory_bytes(a.entries, offsets);
        if (a.packed_directory) dir = masked_stream(dir), packed_size = a.entries.empty() ? 4096 : static_cast<uint32_t>(dir.size());
    } else if (a.packed_directory) {
        packed_size = 4096;
    }
    out.insert(out.end(), dir.begin(), dir.end());
    out.insert(out.end(), a.after_directory.begin(), a.after_directory.end());

    put_u32(out, 0, a.magic.value_or(0x534B4150u));
    put_u32(out, 4, a.entry_count.value_or(static_cast<uint32_t>(a.entries.size())));
    put_u32(out, 8, a.dir_offset.value_or(dir_offset));
    out[12] = a.first_drive, out[13] = a.last_drive, out[14] = a.reserved[0], out[15] = a.reserved[1];
    put_u32(out, 16, a.user_value);
    put_u32(out, 20, a.packed_dir_size.value_or(packed_size));
    if (layout) *layout = {dir_offset, static_cast<uint32_t>(dir.size()), offsets, out.size()};
    return out;
}

Bytes fake_exe(size_t size)
{
    Bytes out = pattern_bytes(size, 77);
    if (size >= 2) out[0] = 'M', out[1] = 'Z';
    return out;
}

// PE32: e_lfanew at 0x3C; there "PE\0\0", the 20-byte COFF header, then the
// optional header whose 16 data directories (address, size) start at its 96.
static constexpr size_t kLfanew = 0x80, kOptional = kLfanew + 4 + 20;

Bytes minimal_pe(size_t size)
{
    Bytes pe(std::max(size, kOptional + 96 + 16 * 8), 0);
    pe[0] = 'M', pe[1] = 'Z';
    put_u32(pe, 0x3C, kLfanew);
    std::memcpy(pe.data() + kLfanew, "PE\0\0", 4);
    put_u16(pe, kLfanew + 4, 0x014C);       // i386
    put_u16(pe, kLfanew + 4 + 16, 224);     // SizeOfOptionalHeader
    put_u16(pe, kLfanew + 4 + 18, 0x0102);  // executable, 32-bit
    put_u16(pe, kOptional, 0x010B);         // PE32
    put_u32(pe, kOptional + 92, 16);        // NumberOfRvaAndSizes
    return pe;
}

Bytes appended(const Bytes &exe, const Bytes &archive, std::optional<uint32_t> trailer)
{
    Bytes out = exe;
    out.insert(out.end(), archive.begin(), archive.end());
    put_u32(out, out.size(), trailer.value_or(static_cast<uint32_t>(exe.size())));
    return out;
}

Bytes signed_pe(const Bytes &file, size_t cert_size)
{
    Bytes out = file;
    while (out.size() % 8) out.push_back(0);
    const size_t table = out.size(), length = (cert_size + 7) / 8 * 8;
    Bytes cert = pattern_bytes(length, 99);
    put_u32(cert, 0, static_cast<uint32_t>(length));  // dwLength
    put_u16(cert, 4, 0x0200);                          // revision 2
    put_u16(cert, 6, 0x0002);                          // PKCS#7 signed data
    out.insert(out.end(), cert.begin(), cert.end());
    const size_t dir = get_u32(out, 0x3C) + 4 + 20 + 96 + 4 * 8;  // data directory 4
    put_u32(out, dir, static_cast<uint32_t>(table));
    put_u32(out, dir + 4, static_cast<uint32_t>(length));
    return out;
}

void write_file(const fs::path &path, const Bytes &bytes)
{
    std::FILE *f = std::fopen(path.string().c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path.string());
    const size_t n = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), f);
    if ((std::fclose(f) != 0) | (n != bytes.size())) throw std::runtime_error("cannot write " + path.string());
}

Bytes read_file(const fs::path &path)
{
    std::FILE *f = std::fopen(path.string().c_str(), "rb");
    if (!f) throw std::runtime_error("cannot open " + path.string());
    Bytes out;
    uint8_t buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

TempDir::TempDir()
{
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    std::error_code ec;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path p = fs::temp_directory_path() / ("korin-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
        if (fs::create_directory(p, ec)) path_ = p;
    }
    if (path_.empty()) throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Files a test left read-only would stop the removal on Windows.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

}  // namespace fixtures

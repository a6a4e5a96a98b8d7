// Test support: writes PAK archives byte by byte from a description, without
// the code under test, so tests can read what another program would have
// made, including damaged and crafted variants (all integers little-endian):
//   header  24 bytes: "PAKS", entry_count, dir_offset, first_drive,
//                     last_drive, 2 zero bytes, user_value, packed_dir_size
//   record  64 bytes: stored_size, data_offset (0 = free), 16 reserved, 40-byte name
//   packed block:     unpacked_size, packed_size, zlib stream with first byte ^ 0x3D
//   appended form:    executable, archive, 4-byte trailer: the archive's file offset
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fixtures {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kMask = 0x3D;

Bytes bytes_of(const std::string &text);
Bytes pattern_bytes(size_t count, uint32_t seed = 1);  // deterministic, compressible filler
Bytes masked_stream(const Bytes &data);                 // the build codec's zlib stream at its default level, as stored in archives
Bytes packed_block(const Bytes &data);                  // unpacked_size, packed_size, masked stream
// The unpacked bytes, or nullopt when damaged or not exactly expected_size long.
std::optional<Bytes> unmask_and_inflate(const Bytes &stream, size_t expected_size);

struct Entry {
    std::string name;       // at most 40 bytes (no terminator at 40)
    Bytes data;             // the bytes stored for the entry
    bool free = false;      // written with data_offset 0 (its data still stored)
    std::array<uint8_t, 16> reserved{};
    uint8_t name_fill = 0;  // byte behind the name's terminator
    std::optional<uint32_t> stored_size, data_offset;  // override the true values
};

Entry raw_entry(const std::string &name, const Bytes &data);
Entry raw_entry(const std::string &name, const std::string &text);
Entry packed_entry(const std::string &name, const Bytes &data);  // data is packed_block(data)
Entry free_entry(const std::string &name, const Bytes &data = {});

struct Archive {
    std::vector<Entry> entries;  // in directory order
    uint8_t first_drive = '#', last_drive = '#';
    uint32_t user_value = 0;
    bool packed_directory = false;
    // Without entries: 4096 zero bytes of directory space (packed: their
    // masked stream, packed_dir_size 4096).
    bool empty_directory_space = true;
    Bytes after_directory;
    // Crafted variants: header values written instead of the true ones.
    std::optional<uint32_t> magic, entry_count, dir_offset, packed_dir_size;
    std::array<uint8_t, 2> reserved{};
};

struct Layout {  // where build() put things, archive-relative
    uint32_t dir_offset = 0, dir_size = 0;
    std::vector<uint32_t> data_offsets;  // one per entry
    size_t size = 0;
};

Bytes build(const Archive &archive, Layout *layout = nullptr);

Bytes fake_exe(size_t size);               // "MZ" and filler
Bytes minimal_pe(size_t size = 1024);      // PE32 headers, 16 data directories, no sections
// exe + archive + trailer holding exe.size() (or trailer when given).
Bytes appended(const Bytes &exe, const Bytes &archive, std::optional<uint32_t> trailer = {});
// A certificate table of cert_size bytes behind zero padding to 8 bytes,
// named by the security directory, as signing tools do.
Bytes signed_pe(const Bytes &file, size_t cert_size = 1500);

void put_u32(Bytes &bytes, size_t offset, uint32_t value);
uint32_t get_u32(const Bytes &bytes, size_t offset);
void write_file(const std::filesystem::path &path, const Bytes &bytes);
Bytes read_file(const std::filesystem::path &path);

// A fresh folder under the system's temporary folder, removed with all it holds.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::string file(const std::string &name) const { return (path_ / name).string(); }
    std::string write(const std::string &name, const Bytes &bytes) const  // returns the path
    {
        write_file(file(name), bytes);
        return file(name);
    }

private:
    std::filesystem::path path_;
};

}  // namespace fixtures

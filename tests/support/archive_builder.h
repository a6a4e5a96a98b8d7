// Test support: writes PAK archives byte by byte from a description, without
// the code under test, so tests can read what another program would have
// made, including damaged and crafted variants. Also a temporary folder that
// removes itself.
//
// Byte layouts, as written here (all integers little-endian):
//   header  24 bytes: "PAKS", entry_count, dir_offset, first_drive,
//                     last_drive, 2 zero bytes, user_value, packed_dir_size
//   record  64 bytes: stored_size, data_offset (0 = free), 16 reserved,
//                     40-byte zero-padded name
//   packed block:     unpacked_size, packed_size, zlib stream whose first
//                     byte is XORed with 0x3D
//   appended form:    executable bytes, archive, 4-byte trailer holding the
//                     file offset of the archive
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testpak {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kMask = 0x3D;

Bytes bytes_of(const std::string &text);
// Deterministic filler bytes (a simple generator seeded with seed).
Bytes pattern_bytes(size_t count, uint32_t seed = 1);

// zlib at the default level (the plain, unmasked stream).
Bytes zlib_stream(const Bytes &data);
// The stream with its first byte masked, as stored in archives.
Bytes masked_stream(const Bytes &data);
// unpacked_size, packed_size and the masked stream.
Bytes packed_block(const Bytes &data);
// Inverse of masked_stream; the unpacked bytes, or nullopt when the stream
// is damaged or its output is not exactly expected_size bytes long.
std::optional<Bytes> unmask_and_inflate(const Bytes &stream, size_t expected_size);

struct Entry {
    std::string name;       // stored as is; at most 40 bytes (no terminator at 40)
    Bytes data;             // the bytes stored for the entry
    bool free = false;      // written with data_offset 0 (its data still stored)
    std::array<uint8_t, 16> reserved{};
    uint8_t name_fill = 0;  // byte used behind the name's terminator
    std::optional<uint32_t> stored_size;  // overrides data.size()
    std::optional<uint32_t> data_offset;  // overrides the real offset
};

Entry raw_entry(const std::string &name, const Bytes &data);
Entry raw_entry(const std::string &name, const std::string &text);
// Entry whose data is packed_block(data).
Entry packed_entry(const std::string &name, const Bytes &data);
Entry free_entry(const std::string &name, const Bytes &data = {});

struct Archive {
    std::vector<Entry> entries;  // in directory order
    uint8_t first_drive = '#';
    uint8_t last_drive = '#';
    uint32_t user_value = 0;
    bool packed_directory = false;
    // An archive without entries carries directory space: 4096 zero bytes
    // (plain) or the masked stream of 4096 zero bytes (packed), with
    // packed_dir_size 4096.
    bool empty_directory_space = true;
    Bytes after_directory;  // bytes written behind the directory

    // Crafted variants: values written into the header instead of the true ones.
    std::optional<uint32_t> magic;
    std::optional<uint32_t> entry_count;
    std::optional<uint32_t> dir_offset;
    std::optional<uint32_t> packed_dir_size;
    std::array<uint8_t, 2> reserved{};
};

// Where build() put things, archive-relative.
struct Layout {
    uint32_t dir_offset = 0;    // true directory position
    uint32_t dir_size = 0;      // bytes of directory written there
    std::vector<uint32_t> data_offsets;  // one per entry
    size_t size = 0;            // archive length
};

Bytes build(const Archive &archive, Layout *layout = nullptr);

// A stand-in executable: "MZ" and filler, size bytes.
Bytes fake_exe(size_t size);
// A minimal PE32 image of about size bytes (MZ header, e_lfanew, "PE\0\0",
// COFF header, optional header with 16 data directories, no sections).
Bytes minimal_pe(size_t size = 1024);
// exe + archive + trailer holding exe.size() (or trailer when given).
Bytes appended(const Bytes &exe, const Bytes &archive, std::optional<uint32_t> trailer = {});
// Adds a certificate table of cert_size bytes to a PE file, after zero
// padding to an 8-byte boundary, and points the security directory (data
// directory 4: file offset and size) at it, as signing tools do.
Bytes signed_pe(const Bytes &file, size_t cert_size = 1500);

void put_u32(Bytes &bytes, size_t offset, uint32_t value);
uint32_t get_u32(const Bytes &bytes, size_t offset);

void write_file(const std::filesystem::path &path, const Bytes &bytes);
Bytes read_file(const std::filesystem::path &path);

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    // The native path string of a file in the folder.
    std::string file(const std::string &name) const;
    // Writes bytes to a file in the folder and returns its path string.
    std::string write(const std::string &name, const Bytes &bytes) const;

private:
    std::filesystem::path path_;
};

}  // namespace testpak

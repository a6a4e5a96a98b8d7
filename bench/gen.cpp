// bench_gen: the data the benchmark measures, made from a fixed seed so that
// every run and every machine sees the same bytes.
//
//   bench_gen files DIR MEGABYTES      game-like files: text, tables,
//                                      incompressible and repetitive data
//   bench_gen large DIR MEGABYTES      the same kinds and long repeats in
//                                      about 70 files of 30 KB to 9 MB
//   bench_gen tiny DIR COUNT           COUNT files of 1 to 16 bytes in folders
//                                      of 1000 (scripts, flags, counters)
//   bench_gen names PAK ZIP NAMES N    an archive of N small entries, a zip
//                                      holding the same names, and the names
//                                      in the order they are looked up
//   bench_gen ini FILE KILOBYTES       a configuration file of sections and keys
//   bench_gen update DIR KILOBYTES     two payload files, and DIR/upd.exe
//                                      carrying them packed as the update does
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "bench/bench.h"
#include "platform/platform.h"

namespace {

// xorshift64*: fast, and the same sequence everywhere.
struct Random {
    uint64_t state;
    explicit Random(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    // Roughly log-uniform between lo and hi: many small files, a few large.
    size_t size_between(size_t lo, size_t hi)
    {
        double x = static_cast<double>(lo);
        const double ratio = static_cast<double>(hi) / static_cast<double>(lo);
        x *= std::pow(ratio, static_cast<double>(below(1000000)) / 1e6);
        return static_cast<size_t>(x);
    }
};

const char *const SYLLABLES[] = {"ka", "ri", "no", "shi", "ta", "mu", "ren", "el", "dor", "va",
                                 "lin", "to", "sa", "gor", "mi", "an", "ul", "the", "ra", "kor"};
const char *const SPEAKERS[] = {"Aren", "Mirel", "Old Tova", "Guard", "Merchant", "Sage Dorun", "Lin"};

std::string word(Random &r)
{
    std::string w;
    for (uint32_t n = 1 + r.below(4); n; --n) w += SYLLABLES[r.below(20)];
    return w;
}

// Dialogue lines: "Speaker: sentence. sentence."
void text_data(Random &r, std::string &out, size_t size)
{
    while (out.size() < size) {
        out += SPEAKERS[r.below(7)];
        out += ": ";
        for (uint32_t s = 1 + r.below(3); s; --s) {
            std::string sentence = word(r);
            sentence[0] = static_cast<char>(sentence[0] - 'a' + 'A');
            for (uint32_t n = 4 + r.below(10); n; --n) {
                sentence += ' ';
                sentence += word(r);
            }
            out += sentence + (r.below(5) ? ". " : "? ");
        }
        out += "\r\n";
    }
    out.resize(size);
}

// Rows of a game table: id, name and numbers in plausible ranges.
void table_data(Random &r, std::string &out, size_t size)
{
    out += "id,name,level,hp,mp,attack,defence,speed,price,flags\r\n";
    char row[256];
    for (uint32_t id = 1; out.size() < size; ++id) {
        const uint32_t level = 1 + r.below(99);
        std::snprintf(row, sizeof row, "%u,%s,%u,%u,%u,%u,%u,%u,%u,0x%04X\r\n", id, word(r).c_str(), level,
                      level * 12 + r.below(200), level * 3 + r.below(50), level * 2 + r.below(30),
                      level * 2 + r.below(25), 5 + r.below(20), (level * 37 + r.below(500)) / 10 * 10,
                      r.below(16) << 4);
        out += row;
    }
    out.resize(size);
}

// Already-compressed media: sound and music.
void random_data(Random &r, std::string &out, size_t size)
{
    out.resize(size);
    for (size_t i = 0; i < size; i += 8) {
        const uint64_t v = r.next();
        std::memcpy(&out[i], &v, std::min<size_t>(8, size - i));
    }
}

// Bitmaps and tile maps: long runs, gradients, a little noise.
void repetitive_data(Random &r, std::string &out, size_t size)
{
    out.assign(54, '\0');
    out[0] = 'B';
    out[1] = 'M';
    while (out.size() < size) {
        const uint32_t kind = r.below(3);
        const size_t run = 8 + r.below(400);
        const uint8_t base[3] = {static_cast<uint8_t>(r.below(256)), static_cast<uint8_t>(r.below(256)),
                                 static_cast<uint8_t>(r.below(256))};
        for (size_t i = 0; i < run; ++i) {
            for (int c = 0; c < 3; ++c) {
                uint8_t v = base[c];
                if (kind == 1) v = static_cast<uint8_t>(v + i / 4);        // gradient
                if (kind == 2 && r.below(16) == 0) v ^= r.below(8);        // noise
                out += static_cast<char>(v);
            }
        }
    }
    out.resize(size);
}

struct Kind {
    const char *prefix;
    const char *extension;
    double share;  // of the total bytes
    size_t smallest, largest;
    void (*fill)(Random &, std::string &, size_t);
};

const Kind KINDS[] = {
    {"script", "txt", 0.20, 16 << 10, 256 << 10, text_data},
    {"table", "tbl", 0.20, 32 << 10, 1 << 20, table_data},
    {"sound", "snd", 0.30, 256 << 10, 4 << 20, random_data},
    {"image", "bmp", 0.30, 64 << 10, 2 << 20, repetitive_data},
};

int make_files(const char *dir, double megabytes)
{
    Random r(1);
    const double total = megabytes * 1048576.0;
    std::string data;
    int files = 0;
    for (const Kind &k : KINDS) {
        const size_t largest = std::min<size_t>(k.largest, static_cast<size_t>(total * k.share) + 4096);
        const size_t smallest = std::min(k.smallest, largest / 2);
        double made = 0;
        for (int n = 0; made < total * k.share; ++n) {
            const size_t size = r.size_between(smallest, largest);
            data.clear();
            k.fill(r, data, size);
            char path[4096];
            std::snprintf(path, sizeof path, "%s/%s%04d.%s", dir, k.prefix, n, k.extension);
            bench::write_file(path, data.data(), data.size());
            made += static_cast<double>(size);
            ++files;
        }
    }
    std::printf("%d files\n", files);
    return 0;
}

// Long repeats: one chunk of text again and again with a few bytes changed,
// further apart than deflate's window (saves, levels built from one base).
void repeated_data(Random &r, std::string &out, size_t size)
{
    std::string chunk;
    text_data(r, chunk, 40000 + r.below(100000));
    while (out.size() < size) {
        std::string copy = chunk;
        for (uint32_t n = r.below(20); n; --n) copy[r.below(static_cast<uint32_t>(copy.size()))] = static_cast<char>('0' + r.below(10));
        out += copy;
    }
    out.resize(size);
}

// The second corpus: fewer, larger files (about 70 of 30 KB to 9 MB at 200
// MB), half of them above the size that pak packs in pieces. Scaled down,
// the largest shrinks with the total.
int make_tiny(const char *dir, long count)
{
    Random r(5);
    char path[4096];
    for (long n = 0; n < count; ++n) {
        std::snprintf(path, sizeof path, "%s/d%03ld", dir, n / 1000);
        if (n % 1000 == 0) disk_mkdir(path);
        std::snprintf(path, sizeof path, "%s/d%03ld/t%06ld.txt", dir, n / 1000, n);
        std::string data = word(r);
        data.resize(1 + r.below(16), '\n');
        bench::write_file(path, data.data(), data.size());
    }
    std::printf("%ld files\n", count);
    return 0;
}

int make_large(const char *dir, double megabytes)
{
    Random r(3);
    const double total = megabytes * 1048576.0;
    const size_t largest = std::min<size_t>(9 << 20, static_cast<size_t>(total / 4));
    const size_t smallest = std::min<size_t>(30 << 10, largest / 8);
    const size_t middle = std::min<size_t>(1 << 20, largest / 2);
    struct Fill {
        const char *extension;
        void (*fill)(Random &, std::string &, size_t);
    };
    const Fill fills[] = {{"txt", text_data}, {"tbl", table_data}, {"bmp", repetitive_data},
                          {"snd", random_data}, {"sav", repeated_data}};
    std::string data;
    double made = 0;
    int files = 0;
    for (; made < total; ++files) {
        size_t size = files % 2 ? r.size_between(smallest, middle) : middle + r.below(static_cast<uint32_t>(largest - middle));
        size = std::min(size, static_cast<size_t>(total - made) + smallest);
        const Fill &f = fills[r.below(5)];
        data.clear();
        f.fill(r, data, size);
        char path[4096];
        std::snprintf(path, sizeof path, "%s/large%03d.%s", dir, files, f.extension);
        bench::write_file(path, data.data(), data.size());
        made += static_cast<double>(size);
    }
    std::printf("%d files\n", files);
    return 0;
}

// ---- Names: an archive and a zip of the same entries ----------------------------

void put16(std::string &s, uint32_t v) { s.append(reinterpret_cast<const char *>(&v), 2); }
void put32(std::string &s, uint32_t v) { s.append(reinterpret_cast<const char *>(&v), 4); }
void put64(std::string &s, uint64_t v) { s.append(reinterpret_cast<const char *>(&v), 8); }

int make_names(const char *pak_path, const char *zip_path, const char *names_path, uint32_t count)
{
    Random r(2);
    // Entry i lives in folder Data(i % 40)\Set(i / 40 % 1000); shuffled, so
    // that the directory is in no particular order, as archives grown over
    // time are.
    std::vector<uint32_t> order(count);
    for (uint32_t i = 0; i < count; ++i) order[i] = i;
    for (uint32_t i = count; i > 1; --i) std::swap(order[i - 1], order[r.below(i)]);
    auto name_of = [](uint32_t i, bool zip) {
        char s[64];
        std::snprintf(s, sizeof s, zip ? "Data%02u/Set%03u/Item%07u.Dat" : "#:\\Data%02u\\Set%03u\\Item%07u.Dat",
                      i % 40, i / 40 % 1000, i);
        return std::string(s);
    };
    constexpr uint32_t DATA = 16;  // bytes of each entry

    std::string pak(PAK_HEADER_SIZE, '\0');
    std::string dir;
    std::string zip, central;
    for (uint32_t i : order) {
        char content[DATA];
        std::snprintf(content, sizeof content, "item %09u", i);
        PakEntry e{};
        e.stored_size = DATA;
        e.data_offset = static_cast<uint32_t>(pak.size());
        std::strcpy(e.name, name_of(i, false).c_str());
        dir.append(reinterpret_cast<const char *>(&e), sizeof e);
        pak.append(content, DATA);

        const std::string zname = name_of(i, true);
        const uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef *>(content), DATA));
        const uint32_t local = static_cast<uint32_t>(zip.size());
        put32(zip, 0x04034b50);
        put16(zip, 10), put16(zip, 0), put16(zip, 0), put16(zip, 0), put16(zip, 0x21);
        put32(zip, crc), put32(zip, DATA), put32(zip, DATA);
        put16(zip, static_cast<uint32_t>(zname.size())), put16(zip, 0);
        zip += zname;
        zip.append(content, DATA);
        put32(central, 0x02014b50);
        put16(central, 10), put16(central, 10), put16(central, 0), put16(central, 0), put16(central, 0),
            put16(central, 0x21);
        put32(central, crc), put32(central, DATA), put32(central, DATA);
        put16(central, static_cast<uint32_t>(zname.size())), put16(central, 0), put16(central, 0);
        put16(central, 0), put16(central, 0), put32(central, 0), put32(central, local);
        central += zname;
    }
    PakHeader h{};
    h.magic = PAK_MAGIC;
    h.entry_count = count;
    h.dir_offset = static_cast<uint32_t>(pak.size());
    h.first_drive = h.last_drive = '#';
    std::memcpy(&pak[0], &h, sizeof h);
    pak += dir;
    bench::write_file(pak_path, pak.data(), pak.size());

    // More than 65535 entries need the zip64 end records.
    const uint64_t central_at = zip.size();
    zip += central;
    const uint64_t end64_at = zip.size();
    put32(zip, 0x06064b50), put64(zip, 44), put16(zip, 45), put16(zip, 45), put32(zip, 0), put32(zip, 0);
    put64(zip, count), put64(zip, count), put64(zip, central.size()), put64(zip, central_at);
    put32(zip, 0x07064b50), put32(zip, 0), put64(zip, end64_at), put32(zip, 1);
    const bool big = count > 0xFFFF;
    put32(zip, 0x06054b50), put16(zip, 0), put16(zip, 0);
    put16(zip, big ? 0xFFFF : count), put16(zip, big ? 0xFFFF : count);
    put32(zip, static_cast<uint32_t>(central.size())), put32(zip, static_cast<uint32_t>(central_at)), put16(zip, 0);
    bench::write_file(zip_path, zip.data(), zip.size());

    // Looked up in another order than stored.
    for (uint32_t i = count; i > 1; --i) std::swap(order[i - 1], order[r.below(i)]);
    std::string names;
    for (uint32_t i : order) names += name_of(i, false) + "\n";
    bench::write_file(names_path, names.data(), names.size());
    return 0;
}

// ---- A configuration file ----------------------------------------------------------

int make_ini(const char *path, double kilobytes)
{
    Random r(3);
    const size_t size = static_cast<size_t>(kilobytes * 1024.0);
    std::string text = "; Area definitions\r\n\r\n";
    char line[256];
    for (uint32_t area = 1; text.size() < size; ++area) {
        std::snprintf(line, sizeof line, "[Area%05u]\r\n", area);
        text += line;
        for (uint32_t k = 4 + r.below(20); k; --k) {
            switch (r.below(6)) {
            case 0: std::snprintf(line, sizeof line, "Name = %s %s\r\n", word(r).c_str(), word(r).c_str()); break;
            case 1: std::snprintf(line, sizeof line, "Level%u=%u\r\n", r.below(8), r.below(100)); break;
            case 2:
                std::snprintf(line, sizeof line, "Pos%u = %u, %u, %u\r\n", r.below(30), r.below(4096), r.below(4096),
                              r.below(16));
                break;
            case 3: std::snprintf(line, sizeof line, "Map = maps\\area%05u.map\r\n", area); break;
            case 4:
                std::snprintf(line, sizeof line, "Flags%u = 0x%08X   ; %s\r\n", r.below(4),
                              static_cast<unsigned>(r.next()), word(r).c_str());
                break;
            default:
                std::snprintf(line, sizeof line, "Monster%02u = %s, %u\r\n", r.below(20), word(r).c_str(),
                              1 + r.below(9));
                break;
            }
            text += line;
        }
        if (r.below(4) == 0) {
            text += "; ";
            text += word(r);
            text += "\r\n";
        }
        text += "\r\n";
    }
    bench::write_file(path, text.data(), text.size());
    return 0;
}

// ---- The update's payload ---------------------------------------------------------

std::string game_file(Random &r, size_t size)
{
    std::string out, part;
    while (out.size() < size) {
        part.clear();
        const size_t n = std::min<size_t>(size - out.size(), 16384 + r.below(65536));
        switch (r.below(4)) {
        case 0: text_data(r, part, n); break;
        case 1: table_data(r, part, n); break;
        case 2: random_data(r, part, n); break;
        default: repetitive_data(r, part, n); break;
        }
        out += part;
    }
    return out;
}

int make_update(const std::string &dir, double kilobytes)
{
    Random r(4);
    const size_t size = static_cast<size_t>(kilobytes * 1024.0);
    const std::string pak = dir + "/payload.pak";
    const int slot = pak_create(pak.c_str(), '#', '#', 0, 1);  // mounted for writing
    if (slot < 0) bench::fail("cannot create", pak.c_str());
    for (const char *name : {"Korin3.EXE", "Update.PAK"}) {
        const std::string data = game_file(r, size);
        bench::write_file((dir + "/" + name).c_str(), data.data(), data.size());
        std::vector<char> block(compressBound(data.size()) + 8);
        const int packed = block_pack(block.data() + 8, data.data(), static_cast<int>(data.size()),
                                      static_cast<int>(block.size() - 8));
        if (packed <= 0) bench::fail("cannot pack", name);
        const PackedBlockHead head{static_cast<uint32_t>(data.size()), static_cast<uint32_t>(packed)};
        std::memcpy(block.data(), &head, sizeof head);
        const std::string entry = std::string("#:\\") + name;
        const int h = vfs_create(entry.c_str(), DISK_ATTR_NORMAL);
        if (h < 0 || vfs_write(h, block.data(), packed + 8) != packed + 8 || vfs_close(h) != 0)
            bench::fail("cannot store", name);
    }
    vfs_unmount(slot);
    // A stand-in for the program that carries the payload.
    const std::string exe = dir + "/upd.exe";
    std::string program = "MZ";
    program.resize(64 << 10, '\x90');
    bench::write_file(exe.c_str(), program.data(), program.size());
    if (pak_attach(exe.c_str(), pak.c_str()) != 0) bench::fail("cannot attach", exe.c_str());
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "files" && argc == 4) return make_files(argv[2], std::atof(argv[3]));
    if (what == "large" && argc == 4) return make_large(argv[2], std::atof(argv[3]));
    if (what == "tiny" && argc == 4) return make_tiny(argv[2], std::atol(argv[3]));
    if (what == "names" && argc == 6)
        return make_names(argv[2], argv[3], argv[4], static_cast<uint32_t>(std::atol(argv[5])));
    if (what == "ini" && argc == 4) return make_ini(argv[2], std::atof(argv[3]));
    if (what == "update" && argc == 4) return make_update(argv[2], std::atof(argv[3]));
    std::fprintf(stderr,
                 "usage: bench_gen files DIR MEGABYTES | large DIR MEGABYTES | tiny DIR COUNT | names PAK ZIP NAMES COUNT | ini FILE KILOBYTES |"
                 " update DIR KILOBYTES\n");
    return 2;
}

// pak add -j packs a large file in pieces on every thread and pak extract -j
// unpacks entries ahead of writing them; neither changes a byte of the result.
#include <filesystem>
#include <map>

#include "tools/pak/tests/harness.h"
#include "tools/pak/view.h"

namespace pak_harness {
namespace {

namespace fs = std::filesystem;

Bytes noise(size_t count, uint32_t seed)
{
    Bytes out(count);
    uint32_t x = seed;
    for (auto &b : out) x ^= x << 13, x ^= x >> 17, x ^= x << 5, b = static_cast<uint8_t>(x >> 11);
    return out;
}

// Lines from a small table in a random order: matches reach across every
// cut between pieces, so a piece without its prime packs worse.
Bytes lines(size_t count)
{
    const Bytes table = pattern_bytes(6000, 9);
    Bytes out;
    uint32_t x = 5;
    while (out.size() < count) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        const size_t at = x % 5900, length = 20 + x % 80;
        out.insert(out.end(), table.begin() + at, table.begin() + at + length);
        out.push_back('\n');
    }
    out.resize(count);
    return out;
}

std::map<std::string, Bytes> files_under(const fs::path &root)
{
    std::map<std::string, Bytes> files;
    for (const auto &e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files[fs::relative(e.path(), root).generic_string()] = read_file(e.path());
    return files;
}

class Split : public PakTest {};

TEST_F(Split, AnyNumberOfThreadsWritesTheSameArchiveAndEveryBlockUnpacks)
{
    const size_t split = BLOCK_SPLIT_SIZE, piece = BLOCK_PIECE_SIZE;
    const std::map<std::string, Bytes> files = {
        {"at.txt", lines(split)},               // the largest packed in one go
        {"above.txt", lines(split + 1)},        // a last piece of one byte
        {"pieces.txt", lines(5 * piece)},       // whole pieces only
        {"odd.txt", lines(6 * piece + 12345)},
        {"noise.bin", noise(split + piece / 2 + 7, 3)},
        {"small.bin", noise(1000, 4)},
    };
    Names hosts;
    for (const auto &[name, data] : files) hosts.push_back(write(name, data));
    std::vector<Bytes> archives;
    std::string path;
    for (const char *jobs : {"1", "3", "8"}) {
        path = file(std::string("j") + jobs + ".pak");
        ASSERT_EQ(pak({"create", path}).status, 0);
        Names add{"add", "-j", jobs, path};
        add.insert(add.end(), hosts.begin(), hosts.end());
        ASSERT_EQ(pak(add).status, 0) << jobs << " threads";
        archives.push_back(read(path));
    }
    EXPECT_EQ(archives[0], archives[1]) << "3 threads";
    EXPECT_EQ(archives[0], archives[2]) << "8 threads";
    // Another level packs otherwise, and alike on any number of threads.
    std::vector<Bytes> fastest;
    for (const char *jobs : {"1", "8"}) {
        const std::string at = file(std::string("level-j") + jobs + ".pak");
        ASSERT_EQ(pak({"create", at}).status, 0);
        Names add{"add", "--level", "1", "-j", jobs, at};
        add.insert(add.end(), hosts.begin(), hosts.end());
        ASSERT_EQ(pak(add).status, 0) << jobs << " threads";
        fastest.push_back(read(at));
        TempDir out;
        ASSERT_EQ(pak({"extract", at, "-C", out.path().string()}).status, 0);
        EXPECT_TRUE(files_under(out.path()) == files);
    }
    EXPECT_EQ(fastest[0], fastest[1]);
    EXPECT_NE(fastest[0], archives[0]);

    ArchiveView view;
    ASSERT_EQ(view_open(&view, path.c_str()), 0);
    ASSERT_EQ(view.facts.entry_count, static_cast<int>(files.size()));
    for (int i = 0; i < view.facts.entry_count; ++i) {
        const std::string name = view_entry(&view, i).name;
        const Bytes &data = files.at(name);
        Bytes block;
        ViewBuffers buffers;
        const char *reason = nullptr;
        const auto take = [](const void *bytes, size_t n, void *to) {
            static_cast<Bytes *>(to)->insert(static_cast<Bytes *>(to)->end(), static_cast<const uint8_t *>(bytes),
                                             static_cast<const uint8_t *>(bytes) + n);
            return 0;
        };
        ASSERT_EQ(view_entry_into(&view, i, true, false, &buffers, VIEW_WHOLE_LIMIT, take, &block, &reason), 0) << name;
        const Bytes one_shot = packed_block(data);
        if (data.size() <= split) {
            EXPECT_EQ(block, one_shot) << name << " is packed as it always was";
            continue;
        }
        // The updater's own one-shot unpacking takes the joined stream.
        Bytes out(data.size());
        const int size = static_cast<int>(data.size());
        EXPECT_EQ(block_unpack(out.data(), block.data() + 8, static_cast<int>(get_u32(block, 4)), size), size) << name;
        EXPECT_EQ(get_u32(block, 0), data.size()) << name;
        EXPECT_EQ(get_u32(block, 4), block.size() - 8) << name;
        EXPECT_TRUE(out == data) << name;
        // Each piece starts afresh where the codec takes no prime: on text
        // whose matches all reach back across the cuts that costs a few KB a
        // piece (on real files a few hundred bytes).
        const size_t pieces = (data.size() + piece - 1) / piece;
        EXPECT_LE(block.size(), one_shot.size() + pieces * 4096) << name << " packs nearly as well as in one go";
    }
    view_close(&view);

    TempDir out;
    ASSERT_EQ(pak({"extract", "-j", "4", path, "-C", out.path().string()}).status, 0);
    EXPECT_TRUE(files_under(out.path()) == files);
}

// Damaged and unreadable entries among good ones, a name met twice (the later
// one wins, or with --keep the first stays), a freed record: every thread
// count says and writes what one thread does, in the same order.
TEST_F(Split, ExtractOnManyThreadsDoesWhatOneThreadDoes)
{
    Bytes broken = packed_block(lines(300000));
    broken[broken.size() / 2] ^= 0x55;
    // Entries too large to hold whole are streamed, a chunk at a time, one of
    // them damaged near its end (after most of it was written).
    const Bytes huge = lines((16 << 20) + 1000);
    Bytes broken_huge = packed_block(huge);
    broken_huge[broken_huge.size() - 100] ^= 0x55;
    Entry past = raw_entry("past.bin", "data");
    past.stored_size = 100000;
    Archive a;
    a.entries = {raw_entry("a.txt", "first"),      packed_entry("big.txt", lines(BLOCK_SPLIT_SIZE + 5)),
                 raw_entry("broken.bin", broken),  packed_entry("dir\\c.txt", lines(70000)),
                 free_entry("gone.txt", bytes_of("freed")), raw_entry("a.txt", "second"),
                 raw_entry("..\\out.txt", "x"),    packed_entry("last.bin", noise(50000, 8)),
                 packed_entry("huge.txt", huge),   raw_entry("broken_huge.txt", broken_huge), past};
    const std::string archive = write("mixed.pak", build(a));
    for (const Names &options : {Names{}, Names{"--keep"}}) {
        TempDir out;
        Names args{"extract", "-v", archive, "-C", out.path().string()};
        args.insert(args.end(), options.begin(), options.end());
        const Result one = pak(args);
        EXPECT_EQ(one.status, 1);
        EXPECT_TRUE(one.says("broken.bin: damaged")) << one.err;
        EXPECT_TRUE(one.says("broken_huge.txt: damaged: a packed block does not unpack")) << one.err;
        const auto written = files_under(out.path());
        EXPECT_EQ(text(written.at("a.txt")), options.empty() ? "second" : "first");
        EXPECT_TRUE(written.at("huge.txt") == huge);
        EXPECT_EQ(written.size(), 5u);
        for (const char *jobs : {"2", "8"}) {
            fs::remove_all(out.path());
            Names threaded = args;
            threaded.insert(threaded.begin() + 1, {"-j", jobs});
            const Result many = pak(threaded);
            EXPECT_EQ(many.status, one.status) << jobs;
            EXPECT_EQ(many.out, one.out) << jobs;
            EXPECT_EQ(many.err, one.err) << jobs;
            EXPECT_TRUE(files_under(out.path()) == written) << jobs;
        }
    }
    // cat and verify stream the large entries too.
    EXPECT_TRUE(pak({"cat", archive, "huge.txt"}).out == text(huge));
    const Result verified = pak({"verify", archive});
    EXPECT_EQ(verified.status, 1);
    EXPECT_TRUE(verified.says("broken_huge.txt: damaged: a packed block does not unpack")) << verified.err;
    EXPECT_FALSE(verified.says(": huge.txt: ")) << verified.err;
}

// Threads stream large entries from the one archive handle while others
// read the entries after them whole: none may move another's reads.
TEST_F(Split, StreamedAndThreadedReadsOfOneHandleDoNotMix)
{
    Archive a;
    std::map<std::string, Bytes> expected;
    for (int group = 0; group < 2; ++group) {
        // Side by side, streamed at once; more threads than cores, so that
        // one may stop between its seek and its read.
        for (int k = 0; k < 3; ++k) {
            const std::string big = "big" + std::to_string(group) + "_" + std::to_string(k) + ".bin";
            expected[big] = noise((16 << 20) + k, static_cast<uint8_t>(group * 3 + k));
            a.entries.push_back(raw_entry(big, expected[big]));
        }
        for (int i = 0; i < 12; ++i) {
            const std::string small = "s" + std::to_string(group) + "_" + std::to_string(i) + ".bin";
            expected[small] = noise(40000 + i, static_cast<uint8_t>(100 + group * 12 + i));
            a.entries.push_back(i % 2 ? raw_entry(small, expected[small]) : packed_entry(small, expected[small]));
        }
    }
    const std::string archive = write("interleaved.pak", build(a));
    for (int round = 0; round < 3; ++round) {
        TempDir out;
        ASSERT_EQ(pak({"extract", "-j", "6", archive, "-C", out.path().string()}).status, 0);
        const auto written = files_under(out.path());
        ASSERT_EQ(written.size(), expected.size());
        for (const auto &[name, bytes] : expected) EXPECT_TRUE(written.at(name) == bytes) << name << ", round " << round;
    }
}

}  // namespace
}  // namespace pak_harness

// The commands that change an archive, run where things go wrong: every
// allocation, create, write and rename failed in turn (once, and from there
// on), a disk that fills up, files read-only or held elsewhere. Every file is
// then old or new as a whole, a failure is reported, and nothing is held.
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>

#include "platform/fault.h"
#include "tests/support/small_disk.h"
#include "tools/pak/tests/harness.h"

namespace pak_harness {
namespace {

namespace fs = std::filesystem;

std::optional<Bytes> at(const Folder &f, const std::string &name)
{
    const auto it = f.find(name);
    return it == f.end() ? std::nullopt : std::optional<Bytes>(it->second);
}

struct Command {
    Names args;
    std::string subject;  // the file it changes
};

std::vector<Command> commands(const std::string &folder)
{
    const auto f = [&](const char *name) { return (fs::path(folder) / name).string(); };
    return {{{"create", f("n.pak"), "--packed-dir"}, "n.pak"}, {{"add", f("a.pak"), f("b.bin"), "--as", "#:\\d"}, "a.pak"},
            {{"delete", f("a.pak"), "#:\\b"}, "a.pak"},        {{"rename", f("a.pak"), "#:\\b", "z"}, "a.pak"},
            {{"compact", f("a.pak")}, "a.pak"},                {{"attach", f("t.exe"), f("a.pak")}, "t.exe"},
            // #:\b unchanged, #:\c gone, #:\e new, the free record dropped.
            {{"sync", f("a.pak"), "-C", folder, "--prefix", "#:\\", "--exclude", "*.*"}, "a.pak"}};
}

// start: the folder before; done: after a clean run.
void expect_old_or_new(const Command &c, const Result &r, const Folder &start, const Folder &done, const Folder &after, long blocks)
{
    if (r.status == 0) {
        EXPECT_EQ(at(after, c.subject), at(done, c.subject)) << "success reported for a partial change";
    } else {
        EXPECT_EQ(at(after, c.subject), at(start, c.subject)) << "a failure changed the file";
        EXPECT_FALSE(r.err.empty()) << "a failure without a message";
    }
    for (const auto &[name, bytes] : after)
        EXPECT_TRUE(std::optional<Bytes>(bytes) == at(start, name) || bytes == at(done, name)) << name << " is neither old nor new";
    for (const auto &[name, bytes] : start) EXPECT_TRUE(!done.count(name) || after.count(name)) << name << " is gone";
    EXPECT_EQ(vfs_open_count(), 0);
    PakMountFacts facts;
    for (int slot = 0; slot < VFS_MAX_SLOTS; ++slot) EXPECT_EQ(vfs_mount_facts(slot, &facts), -1) << "slot " << slot;
    EXPECT_EQ(vfs_drive_strip(), 0);
    EXPECT_EQ(fault_blocks_held(), blocks) << "heap block left behind";
}

class Sweep : public PakTest {
protected:
    // A packed and a raw entry, a freed record for compact to drop, a file to
    // add, a program to attach to, and files to sync from.
    void SetUp() override
    {
        PakTest::SetUp();
        const std::string a = file("a.pak");
        for (const Names &step : {Names{"create", a}, Names{"add", a, write("b.bin", pattern_bytes(20000, 5)), "--as", "#:\\b"},
                                  Names{"add", a, write("c.txt", bytes_of("cc")), "--store", "--as", "#:\\c"},
                                  Names{"add", a, file("c.txt"), "--as", "#:\\gone"}, Names{"delete", a, "#:\\gone"}})
            ASSERT_EQ(pak(step).status, 0) << step[0];
        write("t.exe", minimal_pe(0x2200));
        write("b", pattern_bytes(20000, 5)), write("e", bytes_of("ee"));
        start = contents(folder());
    }
    std::string folder() const { return dir.path().string(); }
    Folder clean_run(const Command &c, const std::string &where)
    {
        restore(where, start);
        EXPECT_EQ(pak(c.args).status, 0) << c.args[0];
        const Folder done = contents(where);
        EXPECT_NE(at(done, c.subject), at(start, c.subject)) << c.args[0];
        return done;
    }
    Folder start;
};

TEST_F(Sweep, EveryFailedStepLeavesOldOrNewFilesAndNothingHeld)
{
    const std::pair<unsigned, const char *> kinds[] = {
        {FAULT_ALLOC, "allocation"}, {FAULT_CREATE, "create"}, {FAULT_WRITE, "write"}, {FAULT_RENAME, "rename"}, {FAULT_ALL, "all"}};
    testing::Message report;
    long total = 0, absorbed = 0;
    for (const Command &c : commands(folder())) {
        const Folder done = clean_run(c, folder());
        report << "\n  " << c.args[0] << ":";
        for (const auto &[kind, name] : kinds) {
            restore(folder(), start);
            fault_arm(kind, 0, false);
            pak(c.args);
            const long points = fault_points();
            fault_disarm();
            report << " " << name << " " << points;
            total += points;
            for (long nth = 1; nth <= points; ++nth)
                for (const bool sticky : {false, true}) {
                    SCOPED_TRACE(testing::Message() << c.args[0] << ": " << name << " " << nth << (sticky ? " and on" : " once"));
                    restore(folder(), start);
                    const long blocks = fault_blocks_held();
                    fault_arm(kind, nth, sticky);
                    const Result r = pak(c.args);
                    fault_disarm();
                    absorbed += r.status == 0;
                    expect_old_or_new(c, r, start, done, contents(folder()), blocks);
                }
        }
    }
    std::printf("pak fault sweep: %ld points, each failed once and from there on; %ld runs got past the fault:%s\n", total,
                absorbed, report.GetString().c_str());
}

TEST_F(Sweep, AFullDiskFailsCleanlyAtEveryFillLevel)
{
    SmallDisk disk;
    if (!disk.ready()) GTEST_SKIP() << SmallDisk::why();
    const std::string work = disk.root() + "/work";
    fs::create_directory(work);
    testing::Message report;
    for (const Command &c : commands(work)) {
        disk.fill_leaving(UINTMAX_MAX);
        const Folder done = clean_run(c, work);
        uintmax_t leave = 0;  // from a full disk up, a page more each time, until it fits
        for (;; leave += 4096) {
            SCOPED_TRACE(testing::Message() << c.args[0] << " with " << leave << " bytes free");
            restore(work, start);
            disk.fill_leaving(leave);
            const long blocks = fault_blocks_held();
            const Result r = pak(c.args);
            expect_old_or_new(c, r, start, done, contents(work), blocks);
            if (r.status == 0 || leave > (1u << 20)) break;
            EXPECT_TRUE(r.says("cannot")) << r.err;
        }
        EXPECT_LE(leave, 1u << 20) << c.args[0] << " never fitted";
        report << " " << c.args[0] << " " << leave / 4096;
    }
    std::printf("pak on a full disk: failed levels per command:%s\n", report.GetString().c_str());
}

TEST_F(Sweep, ReadOnlyOrHeldFilesAreRefusedAndChangedOnlyOnceFree)
{
    const struct {
        const char *what, *name;
        int mode;  // how another program holds it; -1: read-only
    } holds[] = {{"read-only", "a.pak", -1}, {"open for writing elsewhere", "a.pak", DISK_READ_WRITE},
                 {"read elsewhere", "a.pak", DISK_READ}, {"read-only", "t.exe", -1},
                 {"open for writing elsewhere", "t.exe", DISK_READ_WRITE}, {"run elsewhere", "t.exe", DISK_READ}};
    int unenforced = 0;
    for (const auto &h : holds)
        for (const Command &c : commands(folder())) {
            // A read-only archive is compacted into a read-only one (write_test.cpp).
            if (c.args[0] == "create" || h.name != c.subject || (c.args[0] == "compact" && h.mode < 0)) continue;
            SCOPED_TRACE(testing::Message() << c.args[0] << ", " << h.name << " " << h.what);
            const Folder done = clean_run(c, folder());
            restore(folder(), start);
            const std::string path = file(h.name);
            ASSERT_TRUE(h.mode >= 0 || disk_set_attributes(path.c_str(), FILE_ATTR_READONLY) == 0);
            const int held = disk_open(path.c_str(), h.mode < 0 ? DISK_READ_WRITE : h.mode);
            const bool unheld = h.mode < 0 && held != -1;  // Wine run by root writes read-only files
            const long blocks = fault_blocks_held();
            const Result r = unheld ? Result{} : pak(c.args);
            disk_close(held);
            disk_set_attributes(path.c_str(), FILE_ATTR_NORMAL);
            if (unheld) {
                ++unenforced;
                continue;
            }
            EXPECT_NE(r.status, 0);
            EXPECT_TRUE(r.says(h.mode < 0 ? ": access denied" : ": held by another program")) << r.err;
            expect_old_or_new(c, r, start, done, contents(folder()), blocks);
            EXPECT_EQ(pak(c.args).status, 0) << "refused once free";
        }
    if (unenforced) std::printf("read-only files are writable here: %d read-only cases not run\n", unenforced);
    // Read-only inputs are only read.
    restore(folder(), start);
    for (const char *name : {"a.pak", "b.bin"}) disk_set_attributes(file(name).c_str(), FILE_ATTR_READONLY);
    ASSERT_EQ(pak({"create", file("n.pak")}).status, 0);
    EXPECT_EQ(pak({"add", file("n.pak"), file("b.bin")}).status, 0);
    EXPECT_EQ(pak({"attach", file("t.exe"), file("a.pak")}).status, 0);
    EXPECT_EQ(pak({"list", file("a.pak")}).out, "#:\\b\n#:\\c\n");
}

}  // namespace
}  // namespace pak_harness

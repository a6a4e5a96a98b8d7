// pak's commands that replace a file, cut by a power loss at every change
// they make: whatever the disk kept of what was not yet durable, the file
// they change is the old one or the new one, whole.
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>

#include "platform/fault.h"
#include "tests/support/disk_cache.h"
#include "tools/pak/tests/harness.h"

namespace pak_harness {
namespace {

namespace fs = std::filesystem;
using disk_cache::Cut;

// Absent, old or new: never a mix.
bool whole(const Folder &state, const Folder &old, const Folder &done, const std::string &name)
{
    const auto at = [&](const Folder &f) { return f.count(name) ? &f.at(name) : nullptr; };
    const Bytes *now = at(state), *was = at(old), *will = at(done);
    if (!now) return !was || !will;  // a file made anew may not be there yet
    return (was && *now == *was) || (will && *now == *will);
}

class PowerLoss : public PakTest {};

TEST_F(PowerLoss, EveryCutLeavesTheOldOrTheNewFileWhole)
{
    const fs::path out = dir.path() / "out";
    fs::create_directory(out);
    const std::string a = (out / "a.pak").string(), t = (out / "t.exe").string();
    for (const Names &step : {Names{"create", a}, Names{"add", a, write("b.bin", pattern_bytes(70000, 3)), "--as", "#:\\b"},
                              Names{"add", a, write("c.bin", bytes_of("c")), "--as", "#:\\c"}, Names{"delete", a, "#:\\c"}})
        ASSERT_EQ(pak(step).status, 0) << step[0];
    write("out/t.exe", minimal_pe(0x2200));
    fs::create_directory(dir.path() / "tree");
    write("tree/b", pattern_bytes(70000, 3)), write("tree/e", bytes_of("e"));
    const Folder base = contents(out);
    const struct {
        Names args;
        std::vector<std::string> changed;
    } commands[] = {{{"add", a, (dir.path() / "b.bin").string(), "--as", "#:\\d"}, {"a.pak"}},
                    {{"delete", a, "#:\\b"}, {"a.pak"}},
                    {{"rename", a, "#:\\b", "z"}, {"a.pak"}},
                    {{"compact", a}, {"a.pak", "a.BAK"}},
                    {{"sync", a, "-C", (dir.path() / "tree").string(), "--prefix", "#:\\"}, {"a.pak"}},
                    {{"attach", t, a}, {"t.exe"}},
                    {{"detach", t, "--program", (out / "p.exe").string()}, {"t.pak", "p.exe"}}};
    long cuts = 0, states = 0;
    for (const auto &c : commands) {
        restore(out, base);
        if (c.args[0] == "detach") {
            ASSERT_EQ(pak({"attach", t, a}).status, 0);
        }
        const Folder start = contents(out);
        fault_cache_skip_syncs(true);
        fault_cache_record(true);
        const Result r = pak(c.args);
        const disk_cache::Log log = disk_cache::take_log();
        fault_cache_record(false);
        ASSERT_EQ(r.status, 0) << c.args[0] << ": " << r.err;
        const Folder done = contents(out);
        ASSERT_FALSE(log.empty()) << c.args[0] << " changed nothing that the log follows";
        for (size_t at = 0; at <= log.size(); ++at) {
            const Cut cut(start, log, at, fault_cache_names_in_order());
            ASSERT_TRUE(cut.ok()) << cut.error();
            ++cuts;
            std::mt19937_64 rng(at * 7919 + log.size());
            const bool all = cut.count() <= 64;
            for (uint64_t i = 0; i < (all ? cut.count() : 64); ++i) {
                std::string how;
                const Folder state = all ? cut.state(i, &how) : cut.sample(rng, &how);
                ++states;
                for (const std::string &name : c.changed)
                    EXPECT_TRUE(whole(state, start, done, name))
                        << c.args[0] << ": " << name << " torn at a cut before event " << at << " of " << log.size()
                        << "\n  disk: " << how;
            }
        }
    }
    fault_cache_skip_syncs(false);
    std::printf("pak power loss: %ld cuts, %ld disk states\n", cuts, states);
}

}  // namespace
}  // namespace pak_harness

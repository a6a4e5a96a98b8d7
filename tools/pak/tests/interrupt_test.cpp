// pak killed part way, at every disk step of a command: it dies by the signal
// (so that a shell or script sees an interruption, not a failure), no kill
// leaves part of a file under a final name, and the next command removes
// the working copy a killed one had no time to remove.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "platform/fault.h"
#include "tools/pak/tests/harness.h"

namespace pak_harness {
namespace {

namespace fs = std::filesystem;

// What the child does before pak runs; copied into it by fork.
struct Kill {
    int signal;      // raised before disk step `at`; 0: none
    long at;
    long steps;      // counted in the child
    rlim_t size_limit;  // RLIMIT_FSIZE when not 0
};
Kill kill_plan;

void kill_at_step(unsigned)
{
    if (++kill_plan.steps == kill_plan.at) raise(kill_plan.signal);
}

// Runs pak in a child of this test as its main runs it (interrupts handled),
// killed as the plan says. The child's wait status.
int run_killed(const Names &words, const Kill &plan)
{
    kill_plan = plan;
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        if (plan.size_limit) {
            const rlimit size{plan.size_limit, plan.size_limit};
            setrlimit(RLIMIT_FSIZE, &size);
        }
        disk_temp_interrupts();
        if (plan.signal) fault_set_hook(FAULT_DISK_STEPS, kill_at_step);
        _exit(pak(words).status);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

// Whether the folder's file system keeps the extended attribute that marks a
// working copy; without one no copy is provably a killed run's, and it stays.
bool marks_hold(const fs::path &folder)
{
    const fs::path probe = folder / "mark-probe";
    { std::FILE *f = std::fopen(probe.c_str(), "w"); if (f) std::fclose(f); }
    const bool held = setxattr(probe.c_str(), "user.korin.probe", "1", 1, 0) == 0;
    fs::remove(probe);
    return held;
}

class Interrupt : public PakTest {
protected:
    void SetUp() override
    {
        PakTest::SetUp();
        archive = file("a.pak");
        ASSERT_EQ(pak({"create", archive}).status, 0);
        ASSERT_EQ(pak({"add", archive, write("old.bin", pattern_bytes(300000, 1)), "--as", "old.bin"}).status, 0);
        old_archive = read(archive);
        big = write("big.bin", pattern_bytes(600000, 2));
    }
    // The folder's names, the inputs left out.
    std::set<std::string> left(const fs::path &folder) const
    {
        std::set<std::string> names;
        for (const auto &e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
        for (const char *input : {"old.bin", "big.bin", "out"}) names.erase(input);
        return names;
    }
    std::string archive, big;
    Bytes old_archive;
};

// Each command, killed before each of its disk steps by SIGINT (it must die
// by SIGINT and leave nothing of its own) and by SIGKILL (no handler runs: a
// final name holds the old content or the new, whole, and the working copy
// left goes with the next command).
TEST_F(Interrupt, EveryKillAtEveryStepLeavesNoPartialFileAndSignalsDeath)
{
    const std::string out = (dir.path() / "out").string(), made = file("n.pak");
    const struct {
        const char *what;
        Names words;
    } commands[] = {
        {"add", {"add", archive, big, "--as", "big.bin"}},
        {"compact", {"compact", archive, "--force"}},  // over the backup a killed run left
        {"create", {"create", made}},
        {"extract", {"extract", archive, "-C", out}},
        // The file made and written on a worker, killed there.
        {"extract -j", {"extract", "-j", "2", archive, "-C", out}},
    };
    const std::set<std::string> ours{"a.pak", "a.BAK", "n.pak"};
    const auto only = [](const std::set<std::string> &names, const std::set<std::string> &allowed) {
        for (const std::string &name : names)
            if (!allowed.count(name)) return "left: " + name;
        return std::string();
    };
    const bool marks = marks_hold(dir.path());
    long runs = 0;
    for (const auto &c : commands) {
        for (const int signal : {SIGINT, SIGKILL}) {
            for (long at = 1;; ++at) {
                SCOPED_TRACE(testing::Message() << c.what << ", signal " << signal << " before step " << at);
                write_file(archive, old_archive);
                fs::remove(made), fs::remove_all(out), fs::remove(file("a.BAK"));
                fs::create_directory(out);
                const int status = run_killed(c.words, Kill{signal, at, 0, 0});
                if (WIFEXITED(status)) {
                    EXPECT_EQ(WEXITSTATUS(status), 0) << "fewer steps than " << at;
                    break;
                }
                ++runs;
                ASSERT_TRUE(WIFSIGNALED(status));
                EXPECT_EQ(WTERMSIG(status), signal);
                // Every final name: old, or new and whole.
                for (const std::string &whole : {archive, file("a.BAK"), made})
                    EXPECT_TRUE(!fs::exists(whole) || pak({"verify", whole}).status == 0) << "torn " << whole;
                if (fs::exists(out + "/old.bin")) {
                    EXPECT_EQ(read(out + "/old.bin"), pattern_bytes(300000, 1));
                }
                if (signal == SIGKILL) {
                    if (!marks)
                        for (const fs::path &folder : {dir.path(), fs::path(out)})
                            for (const std::string &name : left(folder))
                                if (!ours.count(name) && name != "old.bin") fs::remove(folder / name);
                    // The next command on it clears what this one left.
                    fs::remove(made);
                    ASSERT_EQ(pak(c.words).status, 0);
                }
                EXPECT_EQ(only(left(dir.path()), ours), "") << "a working copy left behind";
                EXPECT_EQ(only(left(out), {"old.bin"}), "") << "a temporary file left behind";
            }
        }
    }
    std::printf("killed runs: %ld\n", runs);
}

// Past ulimit -f the system sends SIGXFSZ: pak dies by it, and neither the
// file it was writing nor its working copy is left.
TEST_F(Interrupt, AFileSizeLimitKillsWithSIGXFSZAndLeavesNoPartialFile)
{
    const std::string out = (dir.path() / "out").string();
    fs::create_directory(out);
    const struct {
        Names words;
        rlim_t limit;
    } cases[] = {
        {{"create", file("n.pak")}, 2048},
        {{"add", archive, big, "--as", "big.bin", "--store"}, 400000},
        {{"extract", archive, "-C", out}, 100000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.words[0]);
        const int status = run_killed(c.words, Kill{0, 0, 0, c.limit});
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
        EXPECT_EQ(left(dir.path()), std::set<std::string>{"a.pak"});
        EXPECT_EQ(read(archive), old_archive);
        EXPECT_TRUE(left(out).empty());
    }
}

// A working copy is removed only when it is provably a killed run's: ours,
// marked as a working copy, a plain file with one name, held by nobody. One
// that a live run holds, somebody else's, a user's file of the same name, a
// link and a file with a second name stay.
TEST_F(Interrupt, OnlyAWorkingCopyOfOursThatNobodyHoldsIsRemoved)
{
    if (!marks_hold(dir.path())) GTEST_SKIP() << "this file system keeps no extended attributes";
    const Names add{"add", archive, big, "--as", "big.bin"};
    const auto killed_copy = [&] {
        const int status = run_killed(add, Kill{SIGKILL, 3, 0, 0});
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    };
    // Each run removes the copies it may; the ones that must stay are made
    // so before the next.
    killed_copy();
    fs::rename(file("a.pak.pak-new"), file("a.pak.1.pak-new"));
    const int held = disk_open(file("a.pak.1.pak-new").c_str(), DISK_READ_WRITE);  // as a live run holds its copy
    ASSERT_NE(held, -1);
    killed_copy();
    fs::rename(file("a.pak.pak-new"), file("a.pak.2.pak-new"));
    std::set<std::string> stay{"a.pak", "a.pak.1.pak-new", "a.pak.3.pak-new", "a.pak.4.pak-new", "a.pak.5.pak-new", "decoy"};
    // Somebody else's (the tests run as root, who can give it away).
    if (chown(file("a.pak.2.pak-new").c_str(), geteuid() + 1, static_cast<gid_t>(-1)) == 0) stay.insert("a.pak.2.pak-new");
    killed_copy();
    ASSERT_EQ(left(dir.path()).count("a.pak.pak-new"), 1u);
    write("a.pak.3.pak-new", bytes_of("the user's own notes"));
    write("decoy", bytes_of("the decoy"));
    fs::create_symlink(file("decoy"), file("a.pak.4.pak-new"));
    fs::create_hard_link(file("decoy"), file("a.pak.5.pak-new"));
    ASSERT_EQ(pak(add).status, 0);
    disk_close(held);
    EXPECT_EQ(left(dir.path()), stay);
    EXPECT_EQ(read(file("decoy")), bytes_of("the decoy"));
    EXPECT_EQ(read(file("a.pak.3.pak-new")), bytes_of("the user's own notes"));
}

}  // namespace
}  // namespace pak_harness
#endif

// A power cut is harsher than a stop: what the disk had not made durable may
// be gone. The update runs once with the fault layer logging its changes to
// the game folder; at every change in the log the power goes, and the folder
// is laid out as the disk could then hold it (writes not yet flushed kept,
// lost or torn, name changes not yet made durable kept or undone). Each such
// folder must be a game that starts, and the next runs must update it and
// leave nothing behind. The same again for a second cut while the next run
// settles the first.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "driver/tests/game_fixture.h"
#include "tests/support/disk_cache.h"

namespace {

using namespace game_folders;
using disk_cache::Cut;
using disk_cache::Folder;
using disk_cache::Log;

constexpr uint64_t ENUMERATE_UP_TO = 64;  // every state of a cut with no more; a sample otherwise
constexpr int SAMPLE = 64;

uint64_t digest(const Folder &f)
{
    uint64_t h = 1469598103934665603ull;
    const auto add = [&](const uint8_t *p, size_t n) {
        for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    };
    for (const auto &[name, bytes] : f) {
        add(reinterpret_cast<const uint8_t *>(name.c_str()), name.size() + 1);
        const uint64_t size = bytes.size();
        add(reinterpret_cast<const uint8_t *>(&size), sizeof size);
        add(bytes.data(), bytes.size());
    }
    return h;
}

// The large sparse Korin3.PAK is only read: it stays on the disk as it is.
Folder small_files(const Snapshot &s)
{
    Folder out(s.begin(), s.end());
    out.erase("Korin3.PAK");
    return out;
}

std::string names_of(const Folder &f)
{
    std::string out;
    for (const auto &[name, bytes] : f) out += name + "(" + std::to_string(bytes.size()) + ") ";
    return out;
}

// Which durability steps a sweep pretends were never taken (all kept: none).
using Drop = std::function<bool(const Log &, size_t)>;

// The update's durability steps by what they guard, told from the log alone:
// the file flushed, and for a flush of the folder (or of a name) the change
// of that file before it.
const char *const FLUSH_KINDS[] = {
    "journal record flushed",   "journal name made durable", "staged file flushed", "staged name made durable",
    "aside copy flushed",       "folder flushed after a rename", "folder flushed after a delete",
};

std::string flush_kind(const Log &log, size_t i)
{
    const disk_cache::Event &e = log[i];
    if (e.kind != CACHE_FLUSH && e.kind != CACHE_FOLDER_SYNC && e.kind != CACHE_ENTRY_SYNC) return "";
    const std::string file = disk_cache::file_of(log, i);
    const std::string ext = file.size() > 4 ? file.substr(file.size() - 3) : "";
    const char *role = ext == "JNL" || ext[0] == 'J' ? "journal" : ext == "NEW" || ext[0] == 'N' ? "staged"
                       : ext == "OLD" || ext[0] == 'O'                                          ? "aside"
                                                                                                : "other";
    int before = CACHE_OPEN;
    for (size_t k = i; k-- > 0;)
        if (log[k].handle == e.handle && log[k].kind != CACHE_FOLDER_SYNC && log[k].kind != CACHE_ENTRY_SYNC) {
            before = log[k].kind;
            break;
        }
    if (e.kind != CACHE_FLUSH && before == CACHE_RENAME) return "folder flushed after a rename";
    if (e.kind != CACHE_FLUSH && before == CACHE_DELETE) return "folder flushed after a delete";
    // Where a flushed file's name is made durable with it, both go together.
    if (e.kind == CACHE_ENTRY_SYNC && before == CACHE_FLUSH) return std::string(role) + " flushed";
    if (e.kind != CACHE_FLUSH) return std::string(role) + " name made durable";
    if (std::string(role) == "journal") return "journal record flushed";
    return std::string(role) + (std::string(role) == "aside" ? " copy flushed" : " file flushed");
}

struct PowerLoss : DriverTest {
    GameFolder game;
    Folder before, updated;
    std::set<uint64_t> checked;  // states already run through
    long cuts = 0, states = 0, second_cuts = 0, second_states = 0;
    std::vector<std::string> failures;
    size_t failures_shown = 5;  // the sweeps stop there
    Drop drop = [](const Log &, size_t) { return false; };

    void SetUp() override
    {
        DriverTest::SetUp();
        before = small_files(game.contents());
        GameFolder clean;
        fault_cache_skip_syncs(true);
        EXPECT_EQ(clean.run(), UF_DONE);
        updated = small_files(clean.contents());
    }

    void lay_out(const Folder &state)
    {
        for (const auto &entry : fs::directory_iterator(game.dir))
            if (entry.path().filename() != "Korin3.PAK") fs::remove(entry.path());
        for (const auto &[name, bytes] : state) write_file(game.file(name), bytes);
    }
    uint32_t run_once()
    {
        platform_reset(), archive_reset(), update_reset();
        fault_cache_skip_syncs(true);
        return game.run();
    }
    // The log of the next run over state, less the steps dropped; with
    // failed_rename, that rename of the run fails and the run undoes itself.
    Log recorded_run(const Folder &state, long failed_rename = 0)
    {
        lay_out(state);
        platform_reset(), archive_reset(), update_reset();
        fault_cache_skip_syncs(true);
        fault_cache_record(true);
        if (failed_rename) fault_arm(FAULT_RENAME, failed_rename, false);
        game.run();
        fault_disarm();
        const Log log = disk_cache::take_log();
        fault_cache_record(false);
        // The model, everything kept, is the folder the run left.
        const Cut end(state, log, log.size(), fault_cache_names_in_order());
        EXPECT_TRUE(end.ok()) << end.error();
        EXPECT_EQ(names_of(end.seen()), names_of(small_files(game.contents())));
        EXPECT_TRUE(end.seen() == small_files(game.contents()));
        return disk_cache::without(log, drop);
    }

    // What is wrong with the folder as a game to start; "" when nothing.
    std::string game_problems(const Folder &f) const
    {
        std::string out;
        const auto is = [&](const char *name, const Folder &which) {
            return f.count(name) && which.count(name) && f.at(name) == which.at(name);
        };
        const bool exe_new = is("Korin3.EXE", updated), pak_new = is("Update.PAK", updated);
        if (!is("Korin3.EXE", before) && !exe_new) out += "Korin3.EXE neither old nor new; ";
        if (!is("Update.PAK", before) && !pak_new) out += "Update.PAK neither old nor new; ";
        if (!is("INSTALL.DAT", before) && !is("INSTALL.DAT", updated)) out += "INSTALL.DAT neither list; ";
        if (exe_new && !pak_new) out += "the new Korin3.EXE beside the old Update.PAK; ";
        for (const std::string &name : GameSetup().foreign)
            if (!is(name.c_str(), before)) out += name + " lost or changed; ";
        return out;
    }
    // The next update, and one or two more, bring the folder to the update.
    std::string settle_problems(const Folder &state)
    {
        lay_out(state);
        for (int run = 1; run <= 3; ++run) {
            run_once();
            const Folder now = small_files(game.contents());
            const std::string wrong = game_problems(now);
            if (!wrong.empty()) return "after run " + std::to_string(run) + ": " + wrong;
            if (now == updated) return "";
        }
        return "not updated after three runs: " + names_of(small_files(game.contents()));
    }
    void check(const Folder &state, const std::string &where, const std::string &how)
    {
        if (!checked.insert(digest(state)).second || failures.size() >= failures_shown) return;
        std::string wrong = game_problems(state);
        if (!wrong.empty()) wrong = "at the cut: " + wrong;
        else wrong = settle_problems(state);
        if (!wrong.empty()) failures.push_back(where + "\n  disk: " + how + "\n  " + names_of(state) + "\n  " + wrong);
    }
    // Every cut of the log over base, every state or a sample of each; f sees
    // each state after it was checked. The count of states.
    long sweep(const Folder &base, const Log &log, const std::string &where, long *cut_count,
               const std::function<void(size_t, const Folder &)> &f = nullptr)
    {
        long n = 0;
        for (size_t at = 0; at <= log.size(); ++at) {
            // A cut between an open or close and the next change changes nothing.
            if (at < log.size() && (log[at].kind == CACHE_OPEN || log[at].kind == CACHE_CLOSE)) continue;
            const Cut cut(base, log, at, fault_cache_names_in_order());
            EXPECT_TRUE(cut.ok()) << cut.error();
            ++*cut_count;
            const std::string here = where + " cut before event " + std::to_string(at) + " of " +
                                     std::to_string(log.size()) + " (" + disk_cache::file_of(log, at < log.size() ? at : 0) + ")";
            std::mt19937_64 rng(at * 7919 + log.size());
            const bool all = cut.count() <= ENUMERATE_UP_TO;
            const uint64_t count = all ? cut.count() : SAMPLE;
            for (uint64_t i = 0; i < count; ++i) {
                std::string how;
                const Folder state = all ? cut.state(i, &how) : cut.sample(rng, &how);
                check(state, here, how);
                ++n;
                if (f) f(at, state);
            }
            if (failures.size() >= failures_shown) break;
        }
        return n;
    }
    void report() const
    {
        for (const std::string &f : failures) ADD_FAILURE() << f;
    }
    // Cuts of the update over the old game (with undo, one whose second
    // rename fails and which undoes itself), then with settle of the next run
    // over each state it must settle.
    void sweep_all(bool undo, bool settle)
    {
        std::vector<std::pair<std::string, Folder>> to_settle;
        std::set<uint64_t> taken;
        const Log log = recorded_run(before, undo ? 2 : 0);
        const std::string what = undo ? "update undone after its second rename failed" : "update";
        states += sweep(before, log, what, &cuts, [&](size_t at, const Folder &state) {
            if (state.count("Update.JNL") && taken.insert(digest(state)).second)
                to_settle.push_back({"settling " + what + " cut before event " + std::to_string(at) + ",", state});
        });
        if (!settle) return;
        settled += static_cast<long>(to_settle.size());
        for (const auto &[where, state] : to_settle) {
            if (failures.size() >= failures_shown) break;
            second_states += sweep(state, recorded_run(state), where, &second_cuts);
        }
    }
    long settled = 0;
};

TEST_F(PowerLoss, EveryCutEveryDiskStateLeavesAGameThatStartsAndTheNextRunsUpdateIt)
{
    sweep_all(false, true);
    sweep_all(true, true);
    report();
    std::printf("power loss: %ld cuts of the update and of one undone, %ld disk states; %ld of them cut again while "
                "settled: %ld cuts, %ld disk states; %zu distinct states run\n",
                cuts, states, settled, second_cuts, second_states, checked.size());
}

// Each flush the update makes, left out in turn: the sweeps must then find
// a disk state that goes wrong, or the flush buys nothing.
TEST_F(PowerLoss, EveryFlushIsNeeded)
{
    const Log full = recorded_run(before);
    std::string found;
    failures_shown = 1;
    for (const char *kind : FLUSH_KINDS) {
        size_t taken = 0;
        for (size_t i = 0; i < full.size(); ++i) taken += flush_kind(full, i) == kind;
        EXPECT_GT(taken, 0u) << kind << " is no step of the update";
        drop = [kind](const Log &log, size_t i) { return flush_kind(log, i) == kind; };
        checked.clear(), failures.clear();
        for (int settle = 0; settle < 2 && failures.empty(); ++settle)
            for (int undo = 0; undo < 2 && failures.empty(); ++undo) sweep_all(undo, settle);
        EXPECT_FALSE(failures.empty()) << "without \"" << kind << "\" no cut goes wrong";
        found += std::string(kind) + " (" + std::to_string(taken) + " in an update): " +
                 (failures.empty() ? "nothing found" : failures[0]) + "\n";
    }
    failures.clear();
    std::printf("%s", found.c_str());
}

}  // namespace

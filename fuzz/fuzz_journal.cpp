// Settling an arbitrary journal over an arbitrary game folder. The first
// three bytes choose which of the update's nine names exist and what each
// holds ("A" or "B", so that journals can name their checksums); the rest is
// the journal. Whatever it says, the settling deletes only the journal, the
// scratch names it records and targets it says the update created; a target
// that existed still exists; a journal found damaged changes nothing; the
// game's Korin3.PAK is never touched; a settled folder holds every required
// file's new content (finished) or old content (undone); and a file whose
// old content was there before still has its old or new content somewhere
// afterwards, however the settling ended.
//
// The folder is made once and only the names that differ from the last run
// are rewritten: making it anew each time cost more than the settling.
#include <map>
#include <string>

#include "driver/edition.h"
#include "driver/journal.h"
#include "fuzz/fuzz_support.h"
#include "platform/platform.h"

extern const EditionTexts edition = {};

namespace {

namespace fs = std::filesystem;
const char *const NAMES[] = {"Update.PAK", "Update.NEW", "Update.OLD", "Korin3.EXE", "Korin3.NEW",
                             "Korin3.OLD", "INSTALL.DAT", "INSTALL.NEW", "INSTALL.OLD"};

std::map<std::string, std::string> folder_state(const fs::path &dir)
{
    std::map<std::string, std::string> out;
    for (const auto &e : fs::directory_iterator(dir)) out[e.path().filename().string()] = fuzz::read_file(e.path());
    return out;
}

void put(const fs::path &p, const std::string &bytes)
{
    FILE *f = std::fopen(p.string().c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// Brings dir from what it holds (have) to want, touching only the differences.
void make_folder(const fs::path &dir, std::map<std::string, std::string> &have,
                 const std::map<std::string, std::string> &want)
{
    for (const auto &[name, bytes] : have)
        if (!want.count(name)) fs::remove(dir / name);
    for (const auto &[name, bytes] : want) {
        const auto it = have.find(name);
        if (it != have.end() && it->second == bytes) continue;
        fs::remove(dir / name);  // settling may leave a read-only copy
        put(dir / name, bytes);
    }
    have = want;
}

// Whether name holds content c.
bool holds(int dir, const char *name, const Content &c)
{
    if (!name[0]) return false;
    Content now;
    return file_content(dir, name, &now) == 1 && now.size == c.size && now.crc == c.crc;
}

// Whether file f's old content stands under one of its names.
bool old_kept(int dir, const JournalFile &f)
{
    return f.had_old && (holds(dir, f.target, f.old_content) || holds(dir, f.aside, f.old_content));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3) return 0;
    const fs::path dir = fuzz::scratch() / "game";
    static std::map<std::string, std::string> have;
    static const bool made = fs::create_directories(dir) || true;
    (void)made;
    std::map<std::string, std::string> before;
    const uint32_t states = data[0] | data[1] << 8 | data[2] << 16;
    for (int i = 0; i < 9; ++i) {
        const uint32_t s = states >> (2 * i) & 3;
        if (s) before[NAMES[i]] = s == 1 ? "A" : "B";
    }
    before["Korin3.PAK"] = "the game";
    before[JOURNAL_NAME] = std::string(reinterpret_cast<const char *>(data + 3), size - 3);
    make_folder(dir, have, before);

    static const int folder = disk_folder_pin(fuzz::system_path(dir).c_str());
    Journal j;
    bool damaged = false, finished = false;
    const int found = journal_read(&j, folder, &damaged);
    bool had_old_copy[JOURNAL_FILES] = {};
    for (int i = 0; found == 1 && i < j.file_count; ++i) had_old_copy[i] = old_kept(folder, j.files[i]);
    const SettleResult result = found == 1 ? journal_settle(&j, SETTLE_EITHER, &finished) : SETTLE_DAMAGED;
    have = folder_state(dir);
    const auto &after = have;

    if (found == -1 || result == SETTLE_DAMAGED) {
        FUZZ_CHECK(found == 0 || after == before);
        return 0;
    }
    FUZZ_CHECK(after.count("Korin3.PAK") && after.at("Korin3.PAK") == "the game");
    for (const auto &[name, bytes] : before) {
        if (after.count(name) || name == JOURNAL_NAME) continue;
        bool named = false;
        for (int i = 0; i < j.file_count; ++i) {
            const JournalFile &f = j.files[i];
            named = named || name == f.staged || name == f.aside || (name == f.target && !f.had_old);
        }
        FUZZ_CHECK(named);
    }
    for (int i = 0; i < j.file_count; ++i) {
        const JournalFile &f = j.files[i];
        if (result == SETTLED && !f.optional) {
            if (finished) FUZZ_CHECK(holds(folder, f.target, f.new_content));
            else if (f.had_old) FUZZ_CHECK(holds(folder, f.target, f.old_content));
        }
        // Never both copies lost: the old content, or the new one in place.
        if (had_old_copy[i] && !(result == SETTLED && f.optional))
            FUZZ_CHECK(old_kept(folder, f) || (f.ready && holds(folder, f.target, f.new_content)));
    }
    return 0;
}

// Settling an arbitrary journal over an arbitrary game folder. The first
// three bytes choose which of the update's nine names exist and what each
// holds ("A" or "B", so that journals can name their checksums); the rest is
// the journal. Whatever it says, the settling deletes only the journal, the
// scratch names it records and targets it says the update created; a target
// that existed still exists; a journal found damaged changes nothing; and
// the game's Korin3.PAK is never touched.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3) return 0;
    const fs::path dir = fuzz::scratch() / "game";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const uint32_t states = data[0] | data[1] << 8 | data[2] << 16;
    for (int i = 0; i < 9; ++i) {
        const uint32_t s = states >> (2 * i) & 3;
        if (s) put(dir / NAMES[i], s == 1 ? "A" : "B");
    }
    put(dir / "Korin3.PAK", "the game");
    put(dir / JOURNAL_NAME, std::string(reinterpret_cast<const char *>(data + 3), size - 3));
    const auto before = folder_state(dir);

    std::string dir_name = fuzz::system_path(dir) + "\\";
    Journal j;
    bool damaged = false, finished = false;
    const int found = journal_read(&j, dir_name.c_str(), &damaged);
    const SettleResult result = found == 1 ? journal_settle(&j, SETTLE_EITHER, &finished) : SETTLE_DAMAGED;
    const auto after = folder_state(dir);

    if (found == -1 || result == SETTLE_DAMAGED) {
        FUZZ_CHECK(found == 0 || after == before);
        return 0;
    }
    FUZZ_CHECK(after.count("Korin3.PAK") && after.at("Korin3.PAK") == "the game");
    for (const auto &[name, bytes] : before) {
        if (after.count(name) || name == JOURNAL_NAME) continue;
        bool named = false;
        for (int i = 0; found == 1 && i < j.file_count; ++i) {
            const JournalFile &f = j.files[i];
            named = named || name == f.staged || name == f.aside || (name == f.target && !f.had_old);
        }
        FUZZ_CHECK(named);
    }
    return 0;
}

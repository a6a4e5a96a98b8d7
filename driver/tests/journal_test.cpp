// Journals the next run may find: torn, damaged or forged ones. None makes it
// touch a file outside the update's own names.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>

#include "driver/journal.h"
#include "driver/tests/game_fixture.h"

namespace {

using namespace game_folders;

std::string line(const std::string &fields)
{
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08lx", crc32(0, reinterpret_cast<const Bytef *>(fields.data()), fields.size()));
    return std::string(crc) + " " + fields + "\r\n";
}

const std::string HEADER = "KORIN3 UPDATE JOURNAL 1\r\n";

using Journals = DriverTest;

TEST_F(Journals, OnlyWhatARunWritesIsSettledAndAnythingElseLeavesTheFolderAsItIs)
{
    const std::string exe_record = "file\t1\tKorin3.EXE\t0\t19\t00000000";  // an old file it does not match
    const struct {
        const char *what;
        std::string journal;
        uint32_t flags;
    } cases[] = {
        {"torn while begun", HEADER.substr(0, 7), UF_DONE},
        {"torn last record", HEADER + line("file\t0\tUpdate.PAK\t0\t-\t-").substr(0, 12), UF_DONE},
        {"no journal of ours: left as it is", "my own notes\r\n", UF_DONE},
        {"a record's checksum wrong", HEADER + "00000000 file\t0\tUpdate.PAK\t0\t-\t-\r\n", UF_GAME_DAMAGED},
        {"a name that is no sibling", HEADER + line("file\t0\tUpdate.PAK\t0\t-\t-") + line("staged\t0\tKorin3.PAK"),
         UF_GAME_DAMAGED},
        {"a path", HEADER + line("file\t0\tUpdate.PAK\t0\t-\t-") + line("staged\t0\t..\\Update.NEW"), UF_GAME_DAMAGED},
        {"another target", HEADER + line("file\t0\tKorin3.PAK\t0\t-\t-"), UF_GAME_DAMAGED},
        {"old and new both gone", HEADER + line("file\t0\tUpdate.PAK\t0\t-\t-") + line(exe_record), UF_GAME_DAMAGED},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        GameFolder game;
        write_file(game.file(JOURNAL_NAME), bytes_of(c.journal));
        const Snapshot before = game.contents();
        EXPECT_EQ(game.run(), c.flags);
        if (c.flags == UF_GAME_DAMAGED) {
            EXPECT_EQ(game.contents(), before);
        } else if (c.journal.compare(0, 7, HEADER, 0, 7) != 0) {
            EXPECT_EQ(game.contents()[JOURNAL_NAME], bytes_of(c.journal));
        } else {
            EXPECT_FALSE(game.contents().count(JOURNAL_NAME));
        }
        SetUp();
    }
}

}  // namespace

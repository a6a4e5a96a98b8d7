#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/archive_builder.h"
#include "archive/archive.h"

namespace {

using namespace fixtures;

int read_bytes(int64_t offset, void *buffer, int n, void *context)
{
    const Bytes &b = *static_cast<const Bytes *>(context);
    if (offset < 0 || static_cast<size_t>(offset) > b.size() || b.size() - offset < static_cast<size_t>(n)) return -1;
    std::memcpy(buffer, b.data() + offset, static_cast<size_t>(n));
    return 0;
}

TEST(AppendedForm, SignedImagesAndAttachedArchivesAreRecognised)
{
    const Bytes pe = minimal_pe(2048), archive = build(Archive{});
    const size_t optional_header = get_u32(pe, 0x3C) + 24;
    Bytes pe_plus = pe, few_directories = signed_pe(pe);  // PE32+: the directories sit 16 bytes further on
    pe_plus[optional_header] = 0x0B;
    pe_plus[optional_header + 1] = 0x02;
    put_u32(pe_plus, optional_header + 108, 16);
    Bytes pe_plus_signed = pe_plus;
    put_u32(pe_plus_signed, optional_header + 112 + 4 * 8 + 4, 1500);
    put_u32(few_directories, optional_header + 92, 4);  // no security directory at all
    const struct {
        const char *label;
        Bytes file;
        int is_signed, has_archive;
    } cases[] = {
        {"unsigned PE", pe, 0, 0}, {"signed PE", signed_pe(pe), 1, 0},
        {"signed after an attached archive", signed_pe(appended(pe, archive)), 1, 1},
        {"unsigned PE32+", pe_plus, 0, 0}, {"signed PE32+", pe_plus_signed, 1, 0},
        {"four directories only", few_directories, 0, 0}, {"MZ without PE", fake_exe(4096), 0, 0},
        {"not a program", bytes_of("PAKS and more bytes than a DOS header has, to be read in full......"), 0, 0},
        {"cut short", Bytes(pe.begin(), pe.begin() + 100), 0, 0}, {"tiny", Bytes{1, 2, 3}, 0, 0},
        {"attached", appended(pe, archive), 0, 1}, {"trailer pointing elsewhere", appended(pe, archive, 10), 0, 0},
        {"trailer beyond the file", appended(pe, archive, 0xFFFFFFF0u), 0, 0},
    };
    for (const auto &c : cases) {
        Bytes file = c.file;
        int64_t table = 0, size = 0, base = 0, end = 0;
        const int is_pe = pe_certificate_table(read_bytes, &file, &table, &size) == 0;
        EXPECT_EQ(is_pe && (table || size) ? 1 : 0, c.is_signed) << c.label;
        const int64_t file_size = static_cast<int64_t>(file.size());
        EXPECT_EQ(appended_locate(read_bytes, &file, file_size, &base, &end) == 0 ? 1 : 0, c.has_archive) << c.label;
        if (c.has_archive) {
            EXPECT_EQ(file[static_cast<size_t>(base)], 'P') << c.label;
            EXPECT_LE(end, file_size) << c.label;
        }
    }
}

}  // namespace

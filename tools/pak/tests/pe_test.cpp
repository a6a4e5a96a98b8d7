#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/archive_builder.h"
#include "tools/pak/pe.h"

namespace {

using namespace testpak;

int read_bytes(uint32_t offset, void *buffer, int n, void *context)
{
    const Bytes &b = *static_cast<const Bytes *>(context);
    if (offset > b.size() || b.size() - offset < static_cast<size_t>(n)) return -1;
    std::memcpy(buffer, b.data() + offset, static_cast<size_t>(n));
    return 0;
}

TEST(AttachTarget, SignedImagesAndAttachedArchivesAreRecognised)
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
        {"signed after an attached archive", signed_pe(appended(pe, archive)), 1, 0},
        {"unsigned PE32+", pe_plus, 0, 0}, {"signed PE32+", pe_plus_signed, 1, 0},
        {"four directories only", few_directories, 0, 0}, {"MZ without PE", fake_exe(4096), 0, 0},
        {"not a program", bytes_of("PAKS and more bytes than a DOS header has, to be read in full......"), 0, 0},
        {"cut short", Bytes(pe.begin(), pe.begin() + 100), 0, 0}, {"tiny", Bytes{1, 2, 3}, 0, 0},
        {"attached", appended(pe, archive), 0, 1}, {"trailer pointing elsewhere", appended(pe, archive, 10), 0, 0},
        {"trailer beyond the file", appended(pe, archive, 0xFFFFFFF0u), 0, 0},
    };
    for (const auto &c : cases) {
        Bytes file = c.file;
        EXPECT_EQ(pe_is_signed(read_bytes, &file), c.is_signed) << c.label;
        EXPECT_EQ(has_appended_archive(read_bytes, &file, static_cast<uint32_t>(file.size())), c.has_archive) << c.label;
    }
}

}  // namespace

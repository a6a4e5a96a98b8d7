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

TEST(AttachTarget, SignedImagesAreRecognised)
{
    const Bytes pe = minimal_pe(2048);
    Bytes pe_plus = pe;  // PE32+: the directories sit 16 bytes further on
    pe_plus[get_u32(pe, 0x3C) + 24] = 0x0B;
    pe_plus[get_u32(pe, 0x3C) + 25] = 0x02;
    put_u32(pe_plus, get_u32(pe, 0x3C) + 24 + 108, 16);
    Bytes pe_plus_signed = pe_plus;
    put_u32(pe_plus_signed, get_u32(pe, 0x3C) + 24 + 112 + 4 * 8 + 4, 1500);
    Bytes few_directories = signed_pe(pe);
    put_u32(few_directories, get_u32(pe, 0x3C) + 24 + 92, 4);  // no security directory at all

    const struct {
        const char *label;
        Bytes file;
        int is_signed;
    } cases[] = {
        {"unsigned PE", pe, 0},
        {"signed PE", signed_pe(pe), 1},
        {"signed after an attached archive", signed_pe(appended(pe, build(Archive{}))), 1},
        {"unsigned PE32+", pe_plus, 0},
        {"signed PE32+", pe_plus_signed, 1},
        {"four directories only", few_directories, 0},
        {"MZ without PE", fake_exe(4096), 0},
        {"not a program", bytes_of("PAKS and more bytes than a DOS header has, to be read in full......"), 0},
        {"cut short", Bytes(pe.begin(), pe.begin() + 100), 0},
    };
    for (const auto &c : cases) EXPECT_EQ(pe_is_signed(read_bytes, const_cast<Bytes *>(&c.file)), c.is_signed) << c.label;
}

TEST(AttachTarget, AnAttachedArchiveIsRecognised)
{
    const Bytes exe = fake_exe(3000), archive = build(Archive{});
    const struct {
        const char *label;
        Bytes file;
        int has;
    } cases[] = {
        {"attached", appended(exe, archive), 1},
        {"trailer pointing elsewhere", appended(exe, archive, 10), 0},
        {"trailer beyond the file", appended(exe, archive, 0xFFFFFFF0u), 0},
        {"tiny", Bytes{1, 2, 3}, 0},
    };
    for (const auto &c : cases) {
        Bytes file = c.file;
        EXPECT_EQ(has_appended_archive(read_bytes, &file, static_cast<uint32_t>(file.size())), c.has) << c.label;
    }
}

}  // namespace

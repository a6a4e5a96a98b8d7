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

// A signature removed leaves its table's padding, 1 to 7 zero bytes, behind
// the trailer and an empty security directory: the archive is found there,
// and nowhere that padding could not stand.
TEST(AppendedForm, PaddingLeftByARemovedSignatureIsSkippedOnlyWhereItCanStand)
{
    const Bytes archive = build(Archive{});
    const auto attached = [&](size_t pad, const Bytes &a) {
        // A program part sized so that the file ends 8-byte aligned after pad bytes.
        const size_t unpadded = 2048 + a.size() + PAK_TRAILER_SIZE;
        Bytes file = appended(minimal_pe(2048 + (16 - (unpadded + pad) % 8) % 8), a);
        file.resize(file.size() + pad, 0);
        return file;
    };
    Bytes far_directory = archive;
    put_u32(far_directory, 8, 0x7FFF0000u);
    struct Case {
        std::string label;
        Bytes file;
        int64_t base;  // 0: no archive
        int64_t pad = 0;
    };
    std::vector<Case> cases;
    for (size_t pad = 1; pad <= 7; ++pad) {
        const Bytes file = attached(pad, archive);
        cases.push_back({"padding of " + std::to_string(pad), file,
                         static_cast<int64_t>(get_u32(file, file.size() - pad - 4)), static_cast<int64_t>(pad)});
        Bytes unaligned = file;
        unaligned.push_back(0);
        cases.push_back({"unaligned padding of " + std::to_string(pad + 1), unaligned, 0});
        Bytes marked = file;
        marked.back() = 1;
        cases.push_back({"a non-zero byte in a padding of " + std::to_string(pad), marked, 0});
        Bytes not_pe = file;
        not_pe[get_u32(file, 0x3C)] = 'X';
        cases.push_back({"padding behind no PE image, " + std::to_string(pad), not_pe, 0});
        Bytes still_signed = file;
        put_u32(still_signed, get_u32(file, 0x3C) + 24 + 96 + 4 * 8, 64);
        put_u32(still_signed, get_u32(file, 0x3C) + 24 + 96 + 4 * 8 + 4, 8);
        cases.push_back({"padding with a certificate table named elsewhere, " + std::to_string(pad), still_signed, 0});
        cases.push_back({"a padded trailer at a header whose directory lies outside, " + std::to_string(pad),
                         attached(pad, far_directory), 0});
    }
    cases.push_back({"eight bytes of padding", attached(8, archive), 0});
    for (const Case &c : cases) {
        int64_t base = 0, end = 0;
        const int64_t size = static_cast<int64_t>(c.file.size());
        const int found = appended_locate(read_bytes, const_cast<Bytes *>(&c.file), size, &base, &end);
        EXPECT_EQ(found == 0 ? base : 0, c.base) << c.label;
        if (found == 0) {
            EXPECT_EQ(size - end, c.pad) << c.label;
        }
    }
}

}  // namespace

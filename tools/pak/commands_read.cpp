// The commands that only read an archive: info, list, cat and verify.
// (extract lives in extract.cpp.)
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/scope_guard.h"
#include "platform/platform.h"
#include "tools/pak/codepage.h"
#include "tools/pak/json.h"
#include "tools/common/output.h"
#include "tools/pak/pak.h"
#include "tools/pak/view.h"

namespace {

void put_stdout(const char *text, int length, void *) { out_write(CONSOLE_OUT, text, length); }

int name_length(const PakEntry &e) { return static_cast<int>(std::strlen(e.name)); }

const char *form_text(const ArchiveView &view) { return view.appended ? "appended" : "stand-alone"; }

int add_to_crc(const void *bytes, size_t n, void *crc)
{
    for (const char *p = static_cast<const char *>(bytes); n > 0;) {
        const int piece = n < (1u << 30) ? static_cast<int>(n) : 1 << 30;
        *static_cast<uint32_t *>(crc) = block_checksum(*static_cast<uint32_t *>(crc), p, piece);
        p += piece, n -= static_cast<size_t>(piece);
    }
    return 0;
}

// The CRC-32 of a live record's content as 8 hex digits, or "-" when it
// cannot be read (verify says why).
void content_crc(const ArchiveView &view, int position, char text[9])
{
    uint32_t crc = 0;
    const char *reason = nullptr;
    if (view_entry_stream(&view, position, false, add_to_crc, &crc, &reason) == 0) std::snprintf(text, 9, "%08x", crc);
    else std::strcpy(text, "-");
}

void print_drive(const char *label, int c)
{
    if (c >= 0x21 && c < 0x7F) out_printf(CONSOLE_OUT, "%s'%c' (0x%02X)", label, c, c);
    else out_printf(CONSOLE_OUT, "%s0x%02X", label, c);
}

}  // namespace

int cmd_info(const PakArgs &args)
{
    ArchiveView view;
    if (view_open(&view, args.positional[0], args.present[OPT_APPENDED]) != 0) return PAK_EXIT_FAILED;
    const PakMountFacts &f = view.facts;
    const int live = view_live_count(&view);

    if (args.present[OPT_JSON]) {
        JsonWriter w;
        json_init(&w, put_stdout, nullptr);
        json_open(&w, nullptr, '{');
        json_bytes(&w, "archive", view.path, static_cast<int>(std::strlen(view.path)));
        json_text(&w, "form", form_text(view));
        json_number(&w, "base_offset", static_cast<uint32_t>(f.base_offset));
        json_number(&w, "entry_count", static_cast<uint32_t>(f.entry_count));
        json_number(&w, "live", static_cast<uint32_t>(live));
        json_number(&w, "free", static_cast<uint32_t>(f.entry_count - live));
        json_number(&w, "dir_offset", static_cast<uint32_t>(f.dir_offset));
        json_number(&w, "first_drive", static_cast<uint32_t>(f.first_drive));
        json_number(&w, "last_drive", static_cast<uint32_t>(f.last_drive));
        json_number(&w, "user_value", view.header.user_value);
        json_number(&w, "packed_dir_size", view.header.packed_dir_size);
        json_close(&w, '}');
        out_write(CONSOLE_OUT, "\n", 1);
        return PAK_EXIT_OK;
    }

    out_printf(CONSOLE_OUT, "archive:          %s\n", view.path);
    out_printf(CONSOLE_OUT, "form:             %s\n", form_text(view));
    out_printf(CONSOLE_OUT, "base offset:      %d (0x%X)\n", f.base_offset, static_cast<unsigned>(f.base_offset));
    out_printf(CONSOLE_OUT, "entries:          %d (%d live, %d free)\n", f.entry_count, live, f.entry_count - live);
    out_printf(CONSOLE_OUT, "directory offset: %d (0x%X)\n", f.dir_offset, static_cast<unsigned>(f.dir_offset));
    if (view.header.packed_dir_size)
        out_printf(CONSOLE_OUT, "directory:        packed, %u bytes\n", view.header.packed_dir_size);
    else
        out_printf(CONSOLE_OUT, "directory:        plain\n");
    print_drive("drives:           ", f.first_drive);
    print_drive(" to ", f.last_drive);
    out_printf(CONSOLE_OUT, "\nuser value:       %u (0x%08X)\n", view.header.user_value, view.header.user_value);
    return PAK_EXIT_OK;
}

int cmd_list(const PakArgs &args)
{
    ArchiveView view;
    if (view_open(&view, args.positional[0], args.present[OPT_APPENDED]) != 0) return PAK_EXIT_FAILED;
    const bool all = args.present[OPT_ALL];
    const bool json = args.present[OPT_JSON];
    const bool long_form = args.present[OPT_LONG];
    const int code_page = args.code_page;
    // Patterns in stored form; an entry is listed when one matches.
    TypedPatterns patterns;
    ScopeGuard free_patterns([&] { typed_patterns_free(&patterns); });
    if (typed_patterns(args, code_page, &patterns) != 0) return PAK_EXIT_FAILED;
    long long stored_total = 0, unpacked_total = 0;
    int listed = 0;

    JsonWriter w;
    if (json) {
        json_init(&w, put_stdout, nullptr);
        json_open(&w, nullptr, '{');
        json_bytes(&w, "archive", view.path, static_cast<int>(std::strlen(view.path)));
        json_open(&w, "entries", '[');
    }
    for (int i = 0; i < view.facts.entry_count; ++i) {
        const PakEntry e = view_entry(&view, i);
        const bool free_record = e.data_offset == 0;
        if ((free_record && !all) || !typed_patterns_want(&patterns, e.name)) continue;
        uint32_t unpacked_size = 0;
        const bool packed = (json || long_form) && !free_record && view_packed(&view, i, &unpacked_size);
        char crc[9] = "-";
        if ((json || long_form) && !free_record) content_crc(view, i, crc);
        // Shown in UTF-8 with a code page; a name without a UTF-8 form as stored.
        char shown[PAK_NAME_SIZE * 3];
        const bool converted = code_page && shown_name(e.name, code_page, shown, sizeof shown) == 0;
        if (!converted) std::memcpy(shown, e.name, PAK_NAME_SIZE);
        if (!free_record) {
            ++listed;
            stored_total += e.stored_size;
            unpacked_total += packed ? unpacked_size : e.stored_size;
        }
        if (json) {
            json_open(&w, nullptr, '{');
            json_number(&w, "index", static_cast<uint32_t>(i));
            if (converted) {
                json_text(&w, "name", shown);
                json_hex(&w, "name_hex", e.name, name_length(e));
            } else {
                json_bytes(&w, "name", e.name, name_length(e));
            }
            json_bool(&w, "free", free_record);
            json_number(&w, "stored_size", e.stored_size);
            json_number(&w, "data_offset", e.data_offset);
            json_bool(&w, "packed", packed);
            if (packed) json_number(&w, "unpacked_size", unpacked_size);
            if (crc[1]) json_text(&w, "crc32", crc);
            json_close(&w, '}');
            continue;
        }
        if (long_form) {
            char unpacked[16] = "-";
            if (packed) std::snprintf(unpacked, sizeof unpacked, "%u", unpacked_size);
            out_printf(CONSOLE_OUT, "%8d %10u %10s %10u %8s  ", i, e.stored_size, unpacked, e.data_offset, crc);
        }
        if (free_record) out_write(CONSOLE_OUT, e.name[0] ? "[free] " : "[free]", e.name[0] ? 7 : 6);
        out_name(CONSOLE_OUT, shown);
        out_write(CONSOLE_OUT, "\n", 1);
    }
    // Unpacked: what extract writes, a raw entry counted as stored.
    if (long_form && !json)
        out_printf(CONSOLE_OUT, "%8s %10lld %10lld %10s %8s  %d %s\n", "", stored_total, unpacked_total, "", "", listed,
                   listed == 1 ? "entry" : "entries");
    if (json) {
        json_close(&w, ']');
        json_close(&w, '}');
        out_write(CONSOLE_OUT, "\n", 1);
    }
    return typed_patterns_unmatched(patterns, args, code_page, view.path) ? PAK_EXIT_FAILED : PAK_EXIT_OK;
}

int cmd_cat(const PakArgs &args)
{
    ArchiveView view;
    if (view_open(&view, args.positional[0], args.present[OPT_APPENDED]) != 0) return PAK_EXIT_FAILED;
    const int code_page = args.code_page;
    char name[PATH_BUFFER_SIZE] = "";
    if (!args.present[OPT_AT] && typed_entry_name(args.positional[1], code_page, name, sizeof name) != 0)
        return PAK_EXIT_FAILED;

    // The newest live entry of that name, as a lookup finds it.
    const int found = args.present[OPT_AT] ? record_at(view.slot, view.path, args.value[OPT_AT])
                                           : find_newest_live(view.slot, name, NAME_TYPED);
    if (found < 0 && args.present[OPT_AT]) return PAK_EXIT_FAILED;
    if (found < 0)
        return out_fail(args.positional[1], "no such entry in %s%s", view.path,
                        no_entry_hint(args.positional[1], code_page, view.path));
    // A chunk at a time: an entry of any size takes a few MB.
    const auto put = [](const void *bytes, size_t n, void *) {
        out_write(CONSOLE_OUT, bytes, static_cast<int>(n));
        return 0;
    };
    const char *reason = nullptr;
    if (view_entry_stream(&view, found, args.present[OPT_FORCE], put, nullptr, &reason) != 0)
        return out_fail(name[0] ? name : args.value[OPT_AT], "%s", reason);
    return PAK_EXIT_OK;
}

namespace {

// Whether the program part of an appended file holds its payload's digest
// (archive/digest.cpp), and that digest is the payload's. 1 checked, 0 no
// digest written, -1 after saying why.
int verify_payload_digest(const ArchiveView &view)
{
    int file = view.file;
    int64_t base = 0, end = 0, place = 0;
    uint8_t written[SHA256_SIZE], actual[SHA256_SIZE];
    const int found = appended_locate(read_file_at, &file, view.file_size, &base, &end) == 0
                          ? payload_place_find(read_file_at, &file, base, &place)
                          : -1;
    if (found < 0 || (found && read_file_at(place, written, SHA256_SIZE, &file) != 0)) {
        out_error(view.path, "cannot read the payload's digest: %s", out_reason());
        return -1;
    }
    if (!found || std::all_of(written, written + SHA256_SIZE, [](uint8_t b) { return b == 0; })) return 0;
    if (payload_digest(read_file_at, &file, view.file_size, actual) != 0) {
        out_error(view.path, "cannot read the payload: %s", out_reason());
        return -1;
    }
    if (std::memcmp(written, actual, SHA256_SIZE) != 0) {
        out_error(view.path, "the attached archive is not the payload whose digest the program holds");
        return -1;
    }
    return 1;
}

}  // namespace

int cmd_verify(const PakArgs &args)
{
    ArchiveView view;
    if (view_open(&view, args.positional[0], args.present[OPT_APPENDED]) != 0) return PAK_EXIT_FAILED;
    const PakMountFacts &f = view.facts;
    // The directory's own bytes; entries must not overlap it or the header.
    const int64_t dir_start = f.dir_offset;
    const int64_t dir_end = dir_start + (view.header.packed_dir_size ? view.header.packed_dir_size
                                                                     : static_cast<int64_t>(f.entry_count) * PAK_ENTRY_SIZE);
    const int64_t archive_bytes = view.file_size - f.base_offset - (view.appended ? PAK_TRAILER_SIZE : 0);

    const int live = view_live_count(&view);
    int bad = 0, checked = 0;
    for (int i = 0; i < f.entry_count; ++i) {
        const PakEntry e = view_entry(&view, i);
        if (e.data_offset == 0) continue;
        ++checked;
        progress_update("verify", checked, live);
        const int64_t start = e.data_offset, end = start + e.stored_size;
        const char *reason = nullptr;
        if (start < PAK_HEADER_SIZE) reason = "its data overlaps the header";
        else if (end > archive_bytes) reason = "its data runs past the end of the archive";
        else if (start < dir_end && end > dir_start && e.stored_size > 0) reason = "its data overlaps the directory";
        if (!reason) view_entry_check(&view, i, &reason);
        if (reason) {
            ++bad;
            out_name_error(view.path, e.name, "%s", reason);
        }
    }
    progress_end();
    const int digest = view.appended ? verify_payload_digest(view) : 0;
    if (bad)
        return out_fail(view.path, "%d of %d %s %s bad", bad, checked, checked == 1 ? "entry" : "entries",
                        bad == 1 ? "is" : "are");
    if (digest < 0) return PAK_EXIT_FAILED;
    out_printf(CONSOLE_OUT, "%s: ok, %d %s%s\n", view.path, checked, checked == 1 ? "entry" : "entries",
               digest ? ", payload digest matches" : "");
    return PAK_EXIT_OK;
}

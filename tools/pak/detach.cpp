// pak detach: the archive attached to a program as a stand-alone archive
// (its offsets count from its own first byte already, so its bytes are
// copied as they are), and the program as it was before attach.
#include <cstring>

#include "platform/scope_guard.h"
#include "platform/platform.h"
#include "tools/common/output.h"
#include "tools/pak/pak.h"
#include "tools/pak/view.h"

namespace {

// Writes count bytes of from, starting at offset, to the file path: made
// under a temporary name and moved there only when whole, over an existing
// file only when forced, with the mode of mode_of ("": a new file's). 0, or
// -1 after saying why.
int write_part(int from, uint32_t offset, uint32_t count, const char *path, const char *mode_of, bool force)
{
    if (!force && disk_opens(path)) {
        out_error(path, "already exists; it is not replaced (--force replaces it)");
        return -1;
    }
    DiskReplacement r;
    if (disk_replacement_begin(&r, path, ".pak-new") != 0) {
        out_failure(path, "cannot create");
        return -1;
    }
    if (std::strlen(mode_of) >= sizeof r.mode_of) {
        disk_replacement_abandon(&r);
        out_error(mode_of, "the name is too long");
        return -1;
    }
    std::strcpy(r.mode_of, mode_of);
    char *buffer = static_cast<char *>(mem_alloc(DISK_COPY_CHUNK));
    const bool copied = buffer && disk_seek(from, static_cast<int32_t>(offset), DISK_SEEK_SET) == offset &&
                        disk_copy_bytes(from, r.handle, count, buffer, DISK_COPY_CHUNK) == 0;
    mem_free(buffer);
    if (!copied) disk_replacement_abandon(&r);
    if (!copied || (force ? disk_replacement_commit(&r) : disk_replacement_commit_new(&r)) != 0) {
        out_failure(path, "cannot write");
        return -1;
    }
    return 0;
}

// "upd106.exe" -> "upd106.pak"; a name without ".exe" gets ".pak" added.
char *archive_name(const char *program)
{
    const size_t n = std::strlen(program);
    const size_t stem = vfs_is_appended_name(program) ? n - 4 : n;
    char *out = static_cast<char *>(mem_alloc(stem + 5));
    if (!out) return nullptr;
    std::memcpy(out, program, stem);
    std::memcpy(out + stem, ".pak", 5);
    return out;
}

}  // namespace

int cmd_detach(const PakArgs &args)
{
    const char *program = args.positional[0];
    ArchiveView view;
    if (view_open(&view, program, args.present[OPT_APPENDED]) != 0) return PAK_EXIT_FAILED;
    const int live = view_live_count(&view);
    if (!view.appended) return out_fail(program, "is a stand-alone archive already; nothing to detach");
    int file = view.file;
    int64_t base = 0, end = 0, table = 0, table_size = 0;
    if (appended_locate(read_file_at, &file, view.file_size, &base, &end) != 0)
        return out_fail_reason(program, "cannot find the attached archive");
    const bool signed_pe = pe_certificate_table(read_file_at, &file, &table, &table_size) == 0 && (table || table_size);
    const char *out_program = args.present[OPT_PROGRAM] ? args.value[OPT_PROGRAM] : nullptr;
    // The program part of a signed file still names its signature, which
    // would lie past its end: attach would refuse it, and a signer too.
    if (out_program && signed_pe)
        return out_fail(program, "is signed; its program part still names the signature, so it is not written "
                                 "(detach the program before it was signed)");
    char *derived = args.present[OPT_OUTPUT] ? nullptr : archive_name(program);
    ScopeGuard free_name([&] { mem_free(derived); });
    const char *out_archive = args.present[OPT_OUTPUT] ? args.value[OPT_OUTPUT] : derived;
    if (!out_archive) return out_fail("detach", "not enough memory");
    if (vfs_is_appended_name(out_archive))
        return out_fail(out_archive,
                        "a name ending in .exe is read as a program with an attached archive; choose another name");

    const uint32_t archive_bytes = static_cast<uint32_t>(end - PAK_TRAILER_SIZE - base);
    // The program part keeps the program's mode; the archive is no program.
    const bool force = args.present[OPT_FORCE];
    if (write_part(file, static_cast<uint32_t>(base), archive_bytes, out_archive, "", force) != 0) return PAK_EXIT_FAILED;
    // The copy must mount as a stand-alone archive with the same entries.
    ArchiveView check;
    if (view_open(&check, out_archive) != 0 || view_live_count(&check) != live) {
        view_close(&check);
        out_error(out_archive, "the detached archive does not read back; it is removed");
        disk_delete(out_archive);
        return PAK_EXIT_FAILED;
    }
    view_close(&check);
    if (out_program && write_part(file, 0, static_cast<uint32_t>(base), out_program, program, force) != 0) {
        disk_delete(out_archive);
        return PAK_EXIT_FAILED;
    }
    return PAK_EXIT_OK;
}

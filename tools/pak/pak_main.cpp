#include "archive/archive.h"
#include "platform/platform.h"
#include "tools/common/output.h"
#include "tools/pak/pak.h"

namespace {

typedef int (*CommandFunction)(const PakArgs &args);

const CommandFunction commands[CMD_COUNT] = {
    nullptr,  // CMD_NONE
    cmd_info, cmd_list, cmd_extract, cmd_cat, cmd_verify, cmd_create,
    cmd_add,  cmd_delete, cmd_rename, cmd_compact, cmd_attach, cmd_detach, cmd_sync, cmd_diff,
};

int run(int argc, char **argv)
{
    const char **positional = static_cast<const char **>(mem_alloc(sizeof(char *) * static_cast<size_t>(argc + 1)));
    if (!positional) return out_fail("pak", "not enough memory");
    PakArgs args;
    char error[256];
    int status;
    if (cli_parse(argc, argv, positional, &args, error, sizeof error) != 0) {
        status = usage_error(args.command, error);
    } else if (args.present[OPT_VERSION]) {
        out_printf(CONSOLE_OUT, "pak %s\n", PAK_VERSION);
        status = PAK_EXIT_OK;
    } else if (args.present[OPT_HELP]) {
        print_help(args.command);
        status = PAK_EXIT_OK;
    } else {
        // With a code page, names on the disk are UTF-8 (on Windows through
        // the wide calls), as the names typed are.
        disk_names_utf8(args.present[OPT_CODEPAGE]);
        status = commands[args.command](args);
        disk_names_utf8(0);
    }
    mem_free(positional);
    return status;
}

}  // namespace

int pak_main(int argc, char **argv)
{
    out_program("pak");
    const int status = run(argc, argv);
    progress_end();
    vfs_unmount_all();
    vfs_set_drive_strip(0);
    return out_finish(status);
}

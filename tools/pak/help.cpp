#include <cstring>

#include "tools/pak/output.h"
#include "tools/pak/pak.h"

namespace {

const char overview_text[] =
    "Usage: pak COMMAND ARCHIVE [OPERAND...] [OPTION...]\n"
    "\n"
    "Builds, inspects and edits PAK archives, stand-alone (.pak) or attached\n"
    "to a program (.exe).\n"
    "\n"
    "Reading:\n"
    "  info      the header and how the archive mounts\n"
    "  list      the entries' names, sizes and offsets\n"
    "  extract   entries to files\n"
    "  cat       one entry to standard output\n"
    "  verify    checks the header, directory and every entry\n"
    "Changing:\n"
    "  create    a new, empty archive\n"
    "  add       files as entries\n"
    "  delete    entries\n"
    "  rename    an entry\n"
    "  compact   rebuilds the archive without the space of freed entries\n"
    "  attach    appends an archive to a program\n"
    "  detach    takes an attached archive out as a stand-alone one\n"
    "\n"
    "Names: a stored name holds at most 39 bytes, drive prefix and folders\n"
    "included; in GBK or Big5 a Chinese character takes 2 bytes. A NAME or\n"
    "PATTERN (cat, list, extract, delete, rename) finds a stored\n"
    "name with or without its drive prefix: \"@:\\readme.txt\" finds the\n"
    "entries \"@:\\readme.txt\" and \"readme.txt\"; \"readme.txt\" finds those and\n"
    "\"#:\\readme.txt\" as well. ASCII letters match in either case. 'add --as'\n"
    "gives the stored name exactly. '/' may be typed for '\\' in names and\n"
    "patterns.\n"
    "\n"
    "Wildcards (list's and extract's patterns) match part by part, '\\'\n"
    "between parts:\n"
    "  ?        any one character, a GBK or Big5 one (2 bytes) included\n"
    "  *        any characters within one part: \"*.ini\" finds \"a.ini\" but\n"
    "           not \"data\\a.ini\"; \"*\\*.ini\" finds it one folder down\n"
    "  **       as a whole part, any number of folders: \"**\\*.ini\" finds\n"
    "           every .ini at any depth, \"data\\**\\*.ini\" those beneath data\n"
    "  DIR\\*    a last part '*' finds everything beneath DIR\n"
    "  ASCII letters match in either case.\n"
    "  Examples: pak list a.pak \"**/*.ini\"   pak extract a.pak \"data/maps/*\"\n"
    "Quote patterns so that the shell leaves them alone.\n"
    "\n"
    "Code pages: --codepage 936 (GBK) or 950 (Big5) on add, list, cat,\n"
    "extract, rename and delete takes names typed and file names on the disk\n"
    "as UTF-8 and stores them in that code page; without it names are bytes.\n"
    "\n"
    "An archive is changed only when the whole command succeeds: a failure\n"
    "leaves it as it was. Every file is written beside its name and renamed\n"
    "when whole, so no interruption leaves part of one under its name.\n"
    "Exit status: 0 success, 1 failure, 2 usage error. Interrupted (Ctrl+C,\n"
    "SIGTERM, SIGHUP, a closed pipe, a file size limit), pak removes its\n"
    "temporary files and ends by the signal (the shell shows 128 + its\n"
    "number: 130 for Ctrl+C); a working copy that a kill left beside a file\n"
    "is removed by the next command that writes that file.\n"
    "'pak COMMAND --help' explains a command, with an example; 'pak --version'\n"
    "says the version.\n"
    "\n"
    "Example:\n"
    "  pak create data.pak --drives @ && pak add data.pak readme.txt && pak list data.pak -l\n";

struct HelpPage {
    PakCommand command;
    const char *text;
};

const HelpPage pages[] = {
    {CMD_INFO,
     "Usage: pak info ARCHIVE [--json]\n"
     "\n"
     "Shows the header and how the archive mounts: its form (stand-alone, or\n"
     "attached to a program) and base offset, the entries (live and free), the\n"
     "directory's offset and form, the drive range and the user value.\n"
     "\n"
     "  --json   one JSON object instead of text\n"
     "\n"
     "Example:\n"
     "  pak info upd106.exe\n"},
    {CMD_LIST,
     "Usage: pak list ARCHIVE [PATTERN...] [-l] [-a] [--json] [--codepage CP] [--appended]\n"
     "\n"
     "Lists the live entries, one name per line, in directory order; with\n"
     "patterns, those that match one ('pak --help' says how, Wildcards). A\n"
     "pattern that matches nothing is an error.\n"
     "\n"
     "  -l, --long   also the stored size, the unpacked size of an entry\n"
     "               stored as a packed block ('-' for one stored raw), and\n"
     "               the data offset: STORED UNPACKED OFFSET NAME, and at\n"
     "               the end the totals: STORED UNPACKED (raw entries as\n"
     "               stored) and the number of entries\n"
     "  -a, --all    also the free records (deleted or replaced), as \"[free]\"\n"
     "  --json       one JSON object; a name that is not UTF-8 is given as\n"
     "               \"name_hex\", its bytes in hex (with --codepage, both: the\n"
     "               name in UTF-8 and its stored bytes)\n"
     "  --codepage CP   names shown in UTF-8 from 936 (GBK) or 950 (Big5)\n"
     "  --appended   the file is a program with an attached archive, whatever\n"
     "               its name (only names ending in .exe are read so unasked)\n"
     "\n"
     "Example:\n"
     "  pak list Update.PAK -l\n"},
    {CMD_EXTRACT,
     "Usage: pak extract ARCHIVE [PATTERN...] [-C DIR] [--raw] [--keep] [-j N] [-v]\n"
     "                   [--force] [--codepage CP]\n"
     "\n"
     "Writes every live entry that matches a pattern (all of them when none\n"
     "is given) to a file under DIR. Patterns match as 'pak --help' says\n"
     "(Wildcards: '?', '*', '**'), and find names as it says (Names).\n"
     "An entry stored as a packed block is unpacked. The drive prefix (\"#:\\\")\n"
     "is dropped and '\\' becomes a folder separator. A name that would land\n"
     "outside DIR (absolute, drive-qualified or with a drive that is not the\n"
     "archive's, '..', a device name) is refused\n"
     "and reported, and the others are still extracted. A damaged packed\n"
     "block is reported and leaves no file; so is an entry that begins as a\n"
     "packed block in all but one field (its stream size or zlib header),\n"
     "unless --force.\n"
     "Overwriting: an existing file of an entry's name is replaced, whole or\n"
     "not at all (a failed write leaves it as it was); --keep leaves every\n"
     "existing file alone.\n"
     "Links: no symbolic link or junction below DIR is followed. An entry\n"
     "whose way leads through a linked folder, or whose file name is a link\n"
     "(even one pointing nowhere), is refused and reported, and the link is\n"
     "left as it is; --keep does not keep it. DIR itself may be reached\n"
     "through links.\n"
     "\n"
     "  -C DIR   the folder to extract to (default: the current folder)\n"
     "  --raw    write every entry as stored, packed blocks included\n"
     "  --keep   never overwrite an existing file\n"
     "  -j N     read and unpack entries on N threads, writing them in the\n"
     "           directory's order: the files, messages and exit status are\n"
     "           those of 1. Entries in flight hold at most N times the\n"
     "           largest one (its stored and unpacked bytes)\n"
     "  -v       name each file written (\"(kept)\" for one left alone)\n"
     "  --force  write an entry that looks like a damaged packed block as\n"
     "           stored (its bytes as they are)\n"
     "  --codepage CP   file names in UTF-8 from 936 (GBK) or 950 (Big5)\n"
     "  --appended      read a program with an attached archive of any name\n"
     "\n"
     "Example:\n"
     "  pak extract upd106.exe \"*.EXE\" -C out\n"
     "  pak extract Korin3.PAK --codepage 950 -C out\n"},
    {CMD_CAT,
     "Usage: pak cat ARCHIVE NAME [--force] [--codepage CP] [--appended]\n"
     "\n"
     "Writes one entry to standard output, unpacked when it is stored as a\n"
     "packed block. NAME finds entries as 'pak --help' says (Names); with\n"
     "several live entries of that name, the newest is taken. An entry that\n"
     "begins as a packed block in all but one field is refused as damaged.\n"
     "\n"
     "  --force  write such an entry as stored (its bytes as they are)\n"
     "\n"
     "Example:\n"
     "  pak cat Update.PAK Update06.txt\n"},
    {CMD_VERIFY,
     "Usage: pak verify ARCHIVE [--appended]\n"
     "\n"
     "Checks the header and the directory, the bounds of every entry's data,\n"
     "and that every packed block unpacks to its unpacked size. An entry that\n"
     "begins as a packed block in all but one field (its stream size or zlib\n"
     "header) is damaged too. Names each bad entry; exits with 1 when there\n"
     "is one. A program whose payload's digest pak attach wrote must carry\n"
     "that payload, or verify exits with 1.\n"
     "\n"
     "Example:\n"
     "  pak verify upd21.exe\n"},
    {CMD_CREATE,
     "Usage: pak create ARCHIVE [--drives FIRST[-LAST]] [--packed-dir] [--user-value N]\n"
     "\n"
     "Creates a new, empty stand-alone archive. An existing file is not\n"
     "replaced.\n"
     "\n"
     "  --drives FIRST[-LAST]   the drive characters it serves (default '#')\n"
     "  --packed-dir            store the directory packed\n"
     "  --user-value N          the header's user value, decimal or 0x-hex\n"
     "                          (default 0)\n"
     "\n"
     "Example:\n"
     "  pak create Update.PAK --drives @ --user-value 0\n"},
    {CMD_ADD,
     "Usage: pak add ARCHIVE PATH... [-C DIR] [--prefix P] [--exclude PATTERN]...\n"
     "               [--as NAME] [--store] [--keep-old] [-j N] [-v] [--force] [--codepage CP]\n"
     "\n"
     "Adds each file as an entry, stored as a packed block; a folder adds\n"
     "every file beneath it, each folder's entries in byte order. An entry is\n"
     "named by its path as given, '/' becoming '\\' and a leading \"./\"\n"
     "dropped: 'pak add game.pak data' stores \"data\\maps\\m01.dat\". A path\n"
     "that is absolute or starts with \"..\" is named from its last part.\n"
     "A live entry of the same name is replaced. Two files under one name are\n"
     "an error. A stored name holds at most 39 bytes, its folders and drive\n"
     "prefix included (with --codepage, counted in GBK or Big5, where a\n"
     "Chinese character takes 2). Every name and size is checked before\n"
     "anything is written: each one that cannot be stored is named as typed,\n"
     "then their count, and nothing is added. All files go in with one\n"
     "rewrite of the archive.\n"
     "PATH '-' is standard input, named with --as.\n"
     "Links are followed. Beneath a folder, a pipe, socket or device, a link\n"
     "to nothing and a link back to a folder above it are named (\"skipped:\")\n"
     "and passed over; a pipe, socket or device is never opened, and one given\n"
     "as a PATH is an error (give its content as '-').\n"
     "\n"
     "  -C DIR        read relative PATHs in DIR (names stay as given)\n"
     "  --prefix P    put P before every name, for instance \"#:\\\"\n"
     "  --exclude PATTERN   skip files and folders that match: a pattern\n"
     "                without '/' or '\\' matches a file or folder name, one\n"
     "                with them the whole name; '*' any characters within one\n"
     "                part, '?' one, ASCII case ignored (the shell's way, not\n"
     "                the archive's); may be given again\n"
     "  --as NAME     the stored name, exactly (one file only)\n"
     "  --store       store the files raw instead of packed\n"
     "  --keep-old    add beside a live entry of the same name, and allow\n"
     "                two files under one name\n"
     "  -j N          pack on N threads; the archive is the same as with 1.\n"
     "                A file above 1 MiB is packed in 256 KiB pieces, each\n"
     "                primed with the 32 KiB before it, joined into one block\n"
     "                (whatever N is), so one large file uses every thread.\n"
     "                Memory: N times the largest file up to 1 MiB (or piece)\n"
     "                read and packed, plus the packed form of one large file\n"
     "  -v            name each entry as it is added\n"
     "  --force       store a name that extract would refuse (absolute, '..',\n"
     "                a device name, an empty part, a control character)\n"
     "  --codepage CP names from UTF-8 to 936 (GBK) or 950 (Big5)\n"
     "\n"
     "Examples:\n"
     "  pak add payload.pak Korin3.EXE --as \"#:\\Korin3.EXE\"\n"
     "  pak add Update.PAK -C mod data --exclude \"*.bak\" --codepage 950\n"
     "  echo hello | pak add x.pak - --as hello.txt\n"},
    {CMD_DELETE,
     "Usage: pak delete ARCHIVE NAME... [--codepage CP]\n"
     "\n"
     "Frees every live entry of each name. The data stays in the file until\n"
     "'pak compact'. A name that no live entry has is an error, and then\n"
     "nothing is deleted.\n"
     "\n"
     "Example:\n"
     "  pak delete Update.PAK Update07.txt\n"},
    {CMD_RENAME,
     "Usage: pak rename ARCHIVE NAME NEWNAME [--codepage CP]\n"
     "\n"
     "Gives the entry NAME a new last part: NEWNAME is a file name, or a full\n"
     "name in the same folder as NAME. Refused when another live entry has\n"
     "the new name, or when it exceeds 39 bytes with its folder.\n"
     "\n"
     "Example:\n"
     "  pak rename Update.PAK Update06.txt Update06.old\n"},
    {CMD_COMPACT,
     "Usage: pak compact ARCHIVE\n"
     "\n"
     "Rebuilds a stand-alone archive with its live entries only, giving back\n"
     "the space of freed ones. The archive as it was stays beside it under its\n"
     "name with the extension .BAK.\n"
     "\n"
     "Example:\n"
     "  pak compact Update.PAK\n"},
    {CMD_ATTACH,
     "Usage: pak attach TARGET ARCHIVE [--force]\n"
     "\n"
     "Appends ARCHIVE to the program TARGET, followed by a 4-byte trailer that\n"
     "holds where the archive starts, so that TARGET (named .exe) mounts it.\n"
     "When TARGET reserves a place for its payload's digest (the update\n"
     "programs do), the SHA-256 of the archive and trailer is written there,\n"
     "for the signature added afterwards to cover and the program to check.\n"
     "Refused for a target that is already signed (attach first, sign last)\n"
     "or already carries an archive, and for one that is not a PE program.\n"
     "TARGET keeps its permissions.\n"
     "\n"
     "  --force   attach to a target that is not a PE program\n"
     "\n"
     "Example:\n"
     "  pak attach upd106.exe payload.pak\n"},
    {CMD_DETACH,
     "Usage: pak detach PROGRAM [-o ARCHIVE] [--program OUT] [--appended]\n"
     "\n"
     "Writes the archive attached to PROGRAM as a stand-alone archive: the\n"
     "same entries byte for byte, mountable on its own. With --program also\n"
     "the program without it; 'pak attach OUT ARCHIVE' gives PROGRAM back\n"
     "byte for byte. Existing files are not replaced. A signed PROGRAM gives\n"
     "its archive, but not its program part.\n"
     "\n"
     "  -o ARCHIVE      where the archive goes (default: PROGRAM with .pak\n"
     "                  for .exe)\n"
     "  --program OUT   also write the program without its archive\n"
     "  --appended      PROGRAM's name does not end in .exe\n"
     "\n"
     "Example:\n"
     "  pak detach upd106.exe -o payload.pak --program upd106-bare.exe\n"},
};

}  // namespace

void print_help(PakCommand command)
{
    const char *text = nullptr;
    for (const HelpPage &p : pages)
        if (p.command == command) text = p.text;
    if (!text) {
        out_printf(CONSOLE_OUT, "pak %s: PAK archives, stand-alone or attached to a program\n", PAK_VERSION);
        text = overview_text;
    }
    out_write(CONSOLE_OUT, text, static_cast<int>(std::strlen(text)));
}

int usage_error(PakCommand command, const char *reason)
{
    const CommandInfo *info = cli_command_info(command);
    out_error(info ? info->name : "usage", "%s", reason);
    if (info) out_printf(CONSOLE_ERR, "Try 'pak %s --help'.\n", info->name);
    else out_printf(CONSOLE_ERR, "Try 'pak --help'.\n");
    return PAK_EXIT_USAGE;
}

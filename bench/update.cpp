// update_run on a game folder that the update fits, with the payload carried
// by a stand-in program (bench_gen update). The folder is laid out afresh
// before the procedure is timed; the memory it takes is the rise of the
// resident peak over the resident size before it ran.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "archive/archive.h"
#include "bench/bench.h"
#include "driver/edition.h"
#include "driver/update.h"
#include "platform/platform.h"

const EditionTexts edition = {
    "bench", 936, 0x12E67196u, "bench", "", "", "", "", "", "", "", "", "", "", "", "",
};

namespace {

void game_folder(const std::string &dir)
{
    mkdir(dir.c_str(), 0755);
    for (const char *name : {"Korin3.EXE", "Update.PAK", "INSTALL.DAT"}) unlink((dir + "/" + name).c_str());
    // Only the size of the game's main archive is looked at: a sparse file.
    const std::string main_pak = dir + "/Korin3.PAK";
    const int fd = open(main_pak.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ftruncate(fd, edition.expected_pak_size) != 0 || close(fd) != 0)
        bench::fail("cannot lay out", main_pak.c_str());
    const std::string old_exe = "the old game executable";
    bench::write_file((dir + "/Korin3.EXE").c_str(), old_exe.data(), old_exe.size());
    // The game's own update archive, serving '@', without markers.
    const std::string old_pak = dir + "/Update.PAK";
    const int slot = pak_create(old_pak.c_str(), '@', '@', 0, 0);  // mounted for writing
    // The game's archive names its entries without the drive prefix.
    vfs_set_drive_strip(1);
    const int h = slot < 0 ? -1 : vfs_create("@:\\Map01.dat", DISK_ATTR_NORMAL);
    vfs_set_drive_strip(0);
    if (h < 0 || vfs_write(h, "map", 3) != 3) bench::fail("cannot fill", old_pak.c_str());
    vfs_close(h);
    vfs_unmount_all();
    // The installation list: 768 bytes not interpreted, the list's offset
    // and count, then its names.
    std::string list(776, '\0');
    const uint32_t head[2] = {776, 1};
    std::memcpy(&list[768], head, 8);
    list += std::string("Korin3.PAK") + '\0';
    bench::write_file((dir + "/INSTALL.DAT").c_str(), list.data(), list.size());
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3) bench::fail("usage", "bench_update PAYLOAD.exe GAMEDIR");
    game_folder(argv[2]);
    if (update_set_payload(argv[1]) != 0 || std::strlen(argv[2]) >= sizeof game_dir)
        bench::fail("path too long", argv[1]);
    std::strcpy(game_dir, argv[2]);

    bench::peak_reset();
    const long before = bench::rss_kb();
    const double start = bench::now();
    update_run();
    const double took = bench::now() - start;
    const long peak = bench::rss_kb("VmHWM");
    if (update_flags != UF_DONE) {
        std::fprintf(stderr, "bench: update_run ended with flags 0x%08X\n", update_flags);
        return 1;
    }
    bench::report("update", took);
    bench::count("memory_kb", peak - before);
    return 0;
}

// A small file system of its own (tmpfs, mounted for the test), so that a
// test can run out of disk space on purpose. Where mounting is not allowed,
// or on Windows, ready() is false and why() says what stands in.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"

namespace fixtures {

class SmallDisk {
public:
    SmallDisk()
    {
#ifndef _WIN32
        std::filesystem::create_directory(root_ = (holder_.path() / "disk").string());
        ready_ = std::system(("mount -t tmpfs -o size=1m korin-test '" + root_ + "' 2>/dev/null").c_str()) == 0;
#endif
    }
    ~SmallDisk()
    {
        if (ready_) std::system(("umount '" + root_ + "'").c_str());
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool ready() const { return ready_; }
    static const char *why() { return "no small file system can be mounted here; the fault sweeps' failed writes stand in for a full disk"; }
    const std::string &root() const { return root_; }

    // Mounted again read-only: every write is refused as the system refuses it.
    bool make_read_only() { return ready_ && std::system(("mount -o remount,ro '" + root_ + "'").c_str()) == 0; }

    // Takes all free space but `leave` bytes (to the file system's block).
    void fill_leaving(uintmax_t leave)
    {
        const std::filesystem::path filler = std::filesystem::path(root_) / "filler";
        std::filesystem::remove(filler);
        const uintmax_t free = std::filesystem::space(root_).available;
        std::ofstream out(filler, std::ios::binary);
        const std::vector<char> chunk(4096);
        for (uintmax_t n = free > leave ? free - leave : 0; n > 0 && out; n -= std::min<uintmax_t>(n, chunk.size()))
            out.write(chunk.data(), static_cast<std::streamsize>(std::min<uintmax_t>(n, chunk.size())));
    }

private:
    TempDir holder_;  // outlives the mount on it
    std::string root_;
    bool ready_ = false;
};

}  // namespace fixtures

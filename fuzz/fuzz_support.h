// Shared by the fuzz targets: a scratch folder per process and a way to put
// the input into a file there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fuzz {

// Removed when the process ends normally; a run that is killed leaves it to
// scripts/fuzz, which names the folder to use in KORIN_FUZZ_SCRATCH and
// removes that.
struct ScratchDir {
    std::filesystem::path path;
    ScratchDir()
    {
        std::error_code ec;
        const char *given = std::getenv("KORIN_FUZZ_SCRATCH");
        std::filesystem::path base = given && *given ? std::filesystem::path(given)
                                     : std::filesystem::exists("/dev/shm", ec) ? std::filesystem::path("/dev/shm")
                                                                                : std::filesystem::temp_directory_path();
        path = base / ("korin-fuzz-" + std::to_string(std::rand()) + "-" +
                       std::to_string(reinterpret_cast<uintptr_t>(&ec) & 0xFFFF));
        std::filesystem::create_directories(path);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

inline const std::filesystem::path &scratch()
{
    static const ScratchDir dir;
    return dir.path;
}

// The path as the system spells it (backslashes; the POSIX layer maps them).
inline std::string system_path(const std::filesystem::path &p)
{
    std::string s = p.string();
    for (char &c : s)
        if (c == '/') c = '\\';
    return s;
}

inline std::string put_file(const char *name, const uint8_t *data, size_t size)
{
    const auto p = scratch() / name;
    FILE *f = std::fopen(p.string().c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    return system_path(p);
}

// One scratch file made once and rewritten in place for every input: a run
// then costs a truncate and a write instead of a file created and removed.
// The replay builds (and Windows) simply write it anew.
class InputFile {
public:
    explicit InputFile(const char *name) : path_(system_path(scratch() / name)), native_((scratch() / name).string())
    {
#ifndef _WIN32
        reopen();
#endif
    }
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;
    ~InputFile()
    {
#ifndef _WIN32
        close(fd_);
#endif
        std::remove(native_.c_str());
    }
    // The path as the system spells it, holding exactly these bytes.
    const std::string &put(const uint8_t *data, size_t size)
    {
#ifndef _WIN32
        // The code under test may have replaced or removed the file.
        struct stat named, held;
        if (stat(native_.c_str(), &named) != 0 || fstat(fd_, &held) != 0 || named.st_ino != held.st_ino ||
            named.st_dev != held.st_dev || (named.st_mode & 0222) == 0)
            reopen();
        if (ftruncate(fd_, 0) != 0) std::abort();
        for (size_t done = 0; done < size;) {
            const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) std::abort();
            done += static_cast<size_t>(n);
        }
#else
        FILE *f = std::fopen(native_.c_str(), "wb");
        if (!f) std::abort();
        if (size && std::fwrite(data, 1, size, f) != size) std::abort();
        std::fclose(f);
#endif
        return path_;
    }
    const std::string &native() const { return native_; }

private:
    std::string path_, native_;
#ifndef _WIN32
    int fd_ = -1;
    void reopen()
    {
        if (fd_ >= 0) close(fd_);
        std::remove(native_.c_str());
        fd_ = open(native_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0) std::abort();
    }
#endif
};

inline std::string read_file(const std::filesystem::path &p)
{
    std::string s;
    FILE *f = std::fopen(p.string().c_str(), "rb");
    if (!f) return s;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
}

// Fails the run loudly: libFuzzer and the replay driver both report an abort.
#define FUZZ_CHECK(cond)                                                     \
    do {                                                                     \
        if (!(cond)) {                                                       \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond,   \
                         __FILE__, __LINE__);                                \
            std::abort();                                                    \
        }                                                                    \
    } while (0)

}  // namespace fuzz

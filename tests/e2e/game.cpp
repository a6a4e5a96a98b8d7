#include "tests/e2e/game.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace e2e {

using fixtures::get_u32;
using fixtures::put_u32;

namespace {

constexpr size_t LIST_FIELDS = 768;
const char *const OLD_LIST[] = {"Korin3.PAK", "Music.PAK"};

struct Handle {
    HANDLE h;
    ~Handle() { h != INVALID_HANDLE_VALUE && CloseHandle(h); }
};

std::string in(const std::string &folder, const std::string &name) { return folder + "\\" + name; }

std::string ini_path()
{
    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, sizeof windows);
    return in(windows, "KORIN3.INI");
}

}  // namespace

std::optional<Bytes> read_file(const std::string &path)
{
    Handle f{CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)};
    if (f.h == INVALID_HANDLE_VALUE) return std::nullopt;
    Bytes bytes(GetFileSize(f.h, nullptr));
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(f.h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size()))
        return std::nullopt;
    return bytes;
}

bool write_file(const std::string &path, const Bytes &bytes)
{
    Handle f{CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    DWORD put = 0;
    return f.h != INVALID_HANDLE_VALUE &&
           (bytes.empty() || (WriteFile(f.h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) && put == bytes.size()));
}

std::vector<std::string> folder_names(const std::string &folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(in(folder, "*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        if (std::strcmp(found.cFileName, ".") && std::strcmp(found.cFileName, "..")) names.push_back(found.cFileName);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool remove_tree(const std::string &folder)
{
    if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    for (const std::string &name : folder_names(folder)) {
        const std::string path = in(folder, name);
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) ? remove_tree(path) : DeleteFileA(path.c_str());
    }
    return RemoveDirectoryA(folder.c_str()) != 0;
}

Bytes initial_install_dat()
{
    Bytes dat = fixtures::pattern_bytes(LIST_FIELDS, 7);
    dat.resize(LIST_FIELDS + 8);
    put_u32(dat, LIST_FIELDS, static_cast<uint32_t>(dat.size()));
    put_u32(dat, LIST_FIELDS + 4, std::size(OLD_LIST));
    for (const char *name : OLD_LIST) dat.insert(dat.end(), name, name + std::strlen(name) + 1);
    return dat;
}

bool make_game(const std::string &folder, const GameSetup &setup)
{
    if (!CreateDirectoryA(folder.c_str(), nullptr)) return false;
    Handle pak{CreateFileA(in(folder, "Korin3.PAK").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)};
    if (pak.h == INVALID_HANDLE_VALUE || SetFilePointer(pak.h, static_cast<LONG>(setup.pak_size), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !SetEndOfFile(pak.h))
        return false;
    fixtures::Archive update;
    update.first_drive = update.last_drive = '@';
    update.entries.push_back(fixtures::raw_entry("Music01.ogg", fixtures::pattern_bytes(300, 3)));
    for (const std::string &marker : setup.markers) update.entries.push_back(fixtures::raw_entry(marker, "marker"));
    return write_file(in(folder, "Korin3.EXE"), fixtures::fake_exe(5000)) && write_file(in(folder, "Update.PAK"), fixtures::build(update)) &&
           write_file(in(folder, "INSTALL.DAT"), initial_install_dat());
}

Snapshot snapshot(const std::string &folder)
{
    WIN32_FILE_ATTRIBUTE_DATA pak;
    std::optional<uint64_t> pak_size;
    if (GetFileAttributesExA(in(folder, "Korin3.PAK").c_str(), GetFileExInfoStandard, &pak))
        pak_size = (uint64_t{pak.nFileSizeHigh} << 32) | pak.nFileSizeLow;
    return {folder_names(folder), read_file(in(folder, "Korin3.EXE")), read_file(in(folder, "Update.PAK")),
            read_file(in(folder, "INSTALL.DAT")), pak_size};
}

std::optional<std::vector<std::string>> install_list(const Bytes &dat)
{
    if (dat.size() < LIST_FIELDS + 8) return std::nullopt;
    size_t at = get_u32(dat, LIST_FIELDS);
    std::vector<std::string> names;
    for (int32_t i = 0, count = static_cast<int32_t>(get_u32(dat, LIST_FIELDS + 4)); i < count; ++i) {
        const auto end = std::find(dat.begin() + static_cast<ptrdiff_t>(std::min(at, dat.size())), dat.end(), 0);
        if (end == dat.end()) return std::nullopt;
        names.emplace_back(dat.begin() + static_cast<ptrdiff_t>(at), end);
        at = static_cast<size_t>(end - dat.begin()) + 1;
    }
    return names;
}

bool write_ini(const std::string &game_folder)
{
    const std::string text = "; written by the end-to-end tests\r\n[INI]\r\nGAMEDIR=" + game_folder + "\r\n";
    return write_file(ini_path(), Bytes(text.begin(), text.end()));
}

bool remove_ini() { return DeleteFileA(ini_path().c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; }

}  // namespace e2e

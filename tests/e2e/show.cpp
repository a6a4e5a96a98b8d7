// Runs one deliverable as a person would and shows what happened:
//   e2e_show DELIVERABLE PICTURE_PREFIX
// starts it, waits for the confirmation dialog, saves a picture of it as
// PREFIX-confirm.png, presses OK, saves the result box as PREFIX-result.png,
// prints the box's text as UTF-8, dismisses it and prints the exit code.
// Exit status 0 when all of that happened, 1 otherwise.
//
// PNG, as written here: signature; IHDR (width, height, depth 8, colour
// type 3 = palette, or 2 = RGB beyond 256 colours); PLTE (RGB triples) for
// type 3; one IDAT holding the zlib stream of the rows, each led by filter
// byte 0; IEND. Every chunk is length, type, data, CRC-32.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/desktop.h"

namespace {

using Bytes = std::vector<unsigned char>;

void put_be32(Bytes &out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void chunk(Bytes &png, const char *type, const Bytes &data)
{
    put_be32(png, static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    put_be32(png, static_cast<uint32_t>(crc32(0, png.data() + start, static_cast<uInt>(png.size() - start))));
}

// rgb: height rows of width pixels, 3 bytes each, top row first; with a
// palette when it has 256 colours or fewer, as a dialog does.
bool write_png(const std::string &path, int width, int height, const Bytes &rgb)
{
    std::map<uint32_t, unsigned char> index;
    Bytes palette, rows;
    for (size_t i = 0; i < rgb.size() && index.size() <= 256; i += 3)
        if (index.emplace(rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2], static_cast<unsigned char>(index.size())).second)
            palette.insert(palette.end(), {rgb[i], rgb[i + 1], rgb[i + 2]});
    const bool indexed = index.size() <= 256;
    for (size_t i = 0; i < rgb.size(); i += 3) {
        if (i % (static_cast<size_t>(width) * 3) == 0) rows.push_back(0);  // filter: none
        if (indexed) rows.push_back(index[rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]]);
        else rows.insert(rows.end(), {rgb[i], rgb[i + 1], rgb[i + 2]});
    }
    uLongf packed_size = compressBound(static_cast<uLong>(rows.size()));
    Bytes packed(packed_size), png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header;
    if (compress2(packed.data(), &packed_size, rows.data(), static_cast<uLong>(rows.size()), 9) != Z_OK) return false;
    packed.resize(packed_size);
    put_be32(header, static_cast<uint32_t>(width));
    put_be32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, static_cast<unsigned char>(indexed ? 3 : 2), 0, 0, 0});
    chunk(png, "IHDR", header);
    if (indexed) chunk(png, "PLTE", palette);
    chunk(png, "IDAT", packed);
    chunk(png, "IEND", {});
    FILE *file = std::fopen(path.c_str(), "wb");
    const bool written = file && std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return file && std::fclose(file) == 0 && written;
}

// The window as it stands on the screen, frame and caption included.
bool save_picture(HWND window, const std::string &path)
{
    Sleep(300);  // let it finish painting
    RECT r;
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    Bytes bgra(static_cast<size_t>(width) * height * 4);
    const int rows = GetDIBits(memory, bitmap, 0, height, bgra.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (width <= 0 || rows != height) return false;

    Bytes rgb;
    rgb.reserve(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < bgra.size(); i += 4) rgb.insert(rgb.end(), {bgra[i + 2], bgra[i + 1], bgra[i]});
    return write_png(path, width, height, rgb);
}

int fail(const char *what)
{
    std::fprintf(stderr, "e2e_show: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3) return fail("usage: e2e_show DELIVERABLE PICTURE_PREFIX");
    _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 as is, no carriage returns
    const std::string prefix = argv[2];

    e2e::Program program(argv[1]);
    if (!program.started()) return fail("the program did not start");

    HWND dialog = program.wait_for(e2e::Shown::confirm);
    if (!dialog) return fail("no confirmation dialog");
    if (!save_picture(dialog, prefix + "-confirm.png")) return fail("no picture of the dialog");
    std::printf("dialog: %s\n", e2e::utf8(e2e::window_text(dialog)).c_str());

    e2e::click(dialog, IDOK);
    HWND box = program.wait_for(e2e::Shown::box);
    if (!box) return fail("no message after OK");
    if (!save_picture(box, prefix + "-result.png")) return fail("no picture of the message");
    std::printf("message: %s\n", e2e::utf8(e2e::item_text(box, 0xFFFF)).c_str());

    e2e::click(box, IDOK);
    DWORD code;
    if (!program.wait_end(&code)) return fail("the program did not end");
    std::printf("exit code: %lu\n", code);
    return 0;
}

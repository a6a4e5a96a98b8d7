// Draws the program's icon (resources/upd.ico): a yellow arrow pointing down
// into a blue box, as a 32 x 32 and a 16 x 16 image of 16 colours.
//   make_icon FILE          writes the icon
//   make_icon --check FILE  exits 1 unless FILE holds exactly this icon
//
// ICO layout (little-endian):
//   offset size  field
//   0      2     reserved, 0
//   2      2     type, 1 = icon
//   4      2     image count n
//   6      16*n  per image: width, height, colour count (u8 each), reserved
//                (u8), planes (u16), bits per pixel (u16), byte count (u32),
//                offset of the image in the file (u32)
//   then per image: BITMAPINFOHEADER (40 bytes, height doubled for the two
//   masks), 16 palette entries (B, G, R, 0), the colour mask (4 bits a pixel)
//   and the transparency mask (1 bit a pixel, 1 = transparent), both bottom
//   row first with rows padded to 4 bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The standard 16-colour palette, as R, G, B.
constexpr uint8_t PALETTE[16][3] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},   {0, 0, 128},   {128, 0, 128},
    {0, 128, 128},   {192, 192, 192}, {128, 128, 128}, {255, 0, 0},   {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};
enum Colour { BLACK = 0, NAVY = 4, BLUE = 12, YELLOW = 11, WHITE = 15, CLEAR = -1 };

// The picture, in units of the 32-pixel grid: u, v from 0 to 32, v downwards.
int colour_at(double u, double v)
{
    // The arrow: a shaft and a head pointing down, in front of the box.
    const bool shaft = u >= 12.5 && u <= 19.5 && v >= 2 && v <= 15;
    const double head_half = (25 - v) * 0.95;  // 9.5 wide at v = 15, a point at 25
    const bool head = v >= 15 && v <= 25 && u >= 16 - head_half && u <= 16 + head_half;
    if (shaft || head) return YELLOW;
    // The box: a lid stripe over a body.
    if (u >= 3 && u <= 29 && v >= 12 && v <= 30) return v <= 15 ? BLUE : (v >= 27 ? NAVY : BLUE);
    return CLEAR;
}

// Pixel colours of one image, with a black outline around the shape.
std::vector<int> draw(int size)
{
    const double scale = 32.0 / size;
    std::vector<int> pixels(size * size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) pixels[y * size + x] = colour_at((x + 0.5) * scale, (y + 0.5) * scale);
    std::vector<int> outlined = pixels;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            if (pixels[y * size + x] != CLEAR) continue;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx >= 0 && ny >= 0 && nx < size && ny < size && pixels[ny * size + nx] != CLEAR)
                        outlined[y * size + x] = BLACK;
                }
        }
    return outlined;
}

void put16(Bytes &b, unsigned v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void put32(Bytes &b, uint32_t v) { put16(b, v & 0xFFFF), put16(b, v >> 16); }

Bytes image(int size)
{
    const std::vector<int> pixels = draw(size);
    const int colour_row = (size / 2 + 3) / 4 * 4;
    const int mask_row = (size / 8 + 3) / 4 * 4;
    Bytes b;
    put32(b, 40);
    put32(b, size);
    put32(b, size * 2);
    put16(b, 1);
    put16(b, 4);
    put32(b, 0);
    put32(b, (colour_row + mask_row) * size);
    put32(b, 0), put32(b, 0), put32(b, 0), put32(b, 0);
    for (const auto &c : PALETTE) b.insert(b.end(), {c[2], c[1], c[0], 0});
    for (int y = size - 1; y >= 0; --y) {
        Bytes row(colour_row);
        for (int x = 0; x < size; ++x) {
            const int c = pixels[y * size + x];
            row[x / 2] |= uint8_t((c == CLEAR ? 0 : c) << (x % 2 ? 0 : 4));
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    for (int y = size - 1; y >= 0; --y) {
        Bytes row(mask_row);
        for (int x = 0; x < size; ++x)
            if (pixels[y * size + x] == CLEAR) row[x / 8] |= uint8_t(0x80 >> (x % 8));
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

Bytes icon()
{
    const int sizes[] = {32, 16};
    Bytes images[2] = {image(sizes[0]), image(sizes[1])};
    Bytes b;
    put16(b, 0);
    put16(b, 1);
    put16(b, 2);
    uint32_t offset = 6 + 16 * 2;
    for (int i = 0; i < 2; ++i) {
        b.insert(b.end(), {uint8_t(sizes[i]), uint8_t(sizes[i]), 16, 0});
        put16(b, 1);
        put16(b, 4);
        put32(b, uint32_t(images[i].size()));
        put32(b, offset);
        offset += uint32_t(images[i].size());
    }
    for (const Bytes &image : images) b.insert(b.end(), image.begin(), image.end());
    return b;
}

}  // namespace

int main(int argc, char **argv)
{
    const bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
    if (argc != 2 && !check) {
        std::fprintf(stderr, "usage: make_icon [--check] FILE\n");
        return 2;
    }
    const char *path = argv[argc - 1];
    const Bytes made = icon();
    if (check) {
        Bytes found(made.size() + 1);
        FILE *f = std::fopen(path, "rb");
        const size_t n = f ? std::fread(found.data(), 1, found.size(), f) : 0;
        if (f) std::fclose(f);
        if (n == made.size() && std::memcmp(found.data(), made.data(), n) == 0) return 0;
        std::fprintf(stderr, "%s is not what make_icon draws; rerun make_icon %s\n", path, path);
        return 1;
    }
    FILE *f = std::fopen(path, "wb");
    if (!f || std::fwrite(made.data(), 1, made.size(), f) != made.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "make_icon: cannot write %s\n", path);
        return 1;
    }
    return 0;
}

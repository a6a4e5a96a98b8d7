// The resources as stored in each program's file.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr WORD CHINESE_TAIWAN = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);
constexpr const char *PROGRAMS[] = {"upd106c.exe", "upd106.exe", "upd21.exe"};

// A program's file mapped as data, so that nothing of it runs.
struct ProgramFile {
    HMODULE module;
    explicit ProgramFile(const char *name)
        : module(LoadLibraryExA((std::string(KORIN_PROGRAMS "/") + name).c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE))
    {
    }
    ~ProgramFile()
    {
        if (module) FreeLibrary(module);
    }
    // The resource's bytes in Chinese (Taiwan), or an empty string.
    std::string resource(LPCSTR type, WORD id) const
    {
        HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), CHINESE_TAIWAN);
        if (!found) return {};
        const void *data = LockResource(LoadResource(module, found));
        return std::string(static_cast<const char *>(data), SizeofResource(module, found));
    }
};

// Reads a dialog template front to back.
struct Reader {
    const std::string &bytes;
    size_t at = 0;
    uint32_t u16()
    {
        uint16_t v = 0;
        if (at + 2 <= bytes.size()) std::memcpy(&v, bytes.data() + at, 2);
        at += 2;
        return v;
    }
    uint32_t u32() { return u16() | u16() << 16; }
    int16_t i16() { return static_cast<int16_t>(u16()); }
    std::wstring text()  // a zero-terminated UTF-16 string
    {
        std::wstring s;
        while (at < bytes.size())
            if (const wchar_t c = static_cast<wchar_t>(u16())) s += c;
            else break;
        return s;
    }
    void align4() { at = (at + 3) & ~size_t(3); }
};

TEST(Resources, ConfirmationDialogTemplateIsStoredAsDesigned)
{
    const struct {
        uint16_t id;
        uint16_t class_atom;  // 0x80 button, 0x82 static
        const wchar_t *text;
        int16_t x, y, cx, cy;
        uint32_t style;
    } controls[] = {
        {1, 0x80, L"確定", 35, 60, 50, 14, 0x50010001},
        {2, 0x80, L"取消", 105, 60, 50, 14, 0x50010000},
        {1000, 0x82, L"要執行更新嗎？", 35, 20, 125, 20, 0x50020201},
        {0xFFFF, 0x80, L"", 15, 5, 160, 45, 0x50000007},
    };
    for (const char *program : PROGRAMS) {
        SCOPED_TRACE(program);
        const ProgramFile file(program);
        ASSERT_NE(file.module, nullptr);
        const std::string bytes = file.resource(MAKEINTRESOURCEA(5) /* RT_DIALOG */, 101);
        ASSERT_FALSE(bytes.empty());
        Reader r{bytes};
        EXPECT_EQ(r.u32(), 0x80C800C0u);  // style
        EXPECT_EQ(r.u32(), 0u);           // extended style
        EXPECT_EQ(r.u16(), std::size(controls));
        EXPECT_EQ(r.i16(), 0);
        EXPECT_EQ(r.i16(), 0);
        EXPECT_EQ(r.i16(), 187);
        EXPECT_EQ(r.i16(), 85);
        EXPECT_EQ(r.u16(), 0u);  // no menu
        EXPECT_EQ(r.u16(), 0u);  // the standard dialog class
        EXPECT_EQ(r.text(), L"");
        EXPECT_EQ(r.u16(), 10u);
        EXPECT_EQ(r.text(), L"System");
        for (const auto &c : controls) {
            r.align4();
            EXPECT_EQ(r.u32(), c.style) << c.id;
            EXPECT_EQ(r.u32(), 0u) << c.id;
            EXPECT_EQ(r.i16(), c.x) << c.id;
            EXPECT_EQ(r.i16(), c.y) << c.id;
            EXPECT_EQ(r.i16(), c.cx) << c.id;
            EXPECT_EQ(r.i16(), c.cy) << c.id;
            EXPECT_EQ(r.u16(), c.id);
            EXPECT_EQ(r.u16(), 0xFFFFu) << c.id;  // the class as an atom
            EXPECT_EQ(r.u16(), c.class_atom) << c.id;
            EXPECT_TRUE(r.text() == c.text) << c.id;
            EXPECT_EQ(r.u16(), 0u) << c.id;  // no creation data
        }
        EXPECT_EQ(r.at, bytes.size());
    }
}

TEST(Resources, IconHasA32And16PixelImageOf16Colours)
{
    for (const char *program : PROGRAMS) {
        SCOPED_TRACE(program);
        const ProgramFile file(program);
        ASSERT_NE(file.module, nullptr);
        const std::string group = file.resource(MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, 102);
        ASSERT_EQ(group.size(), 6u + 2 * 14);
        Reader r{group};
        EXPECT_EQ(r.u16(), 0u);
        EXPECT_EQ(r.u16(), 1u);
        EXPECT_EQ(r.u16(), 2u);
        for (int size : {32, 16}) {
            const uint32_t width_height = r.u16();
            EXPECT_EQ(width_height, uint32_t(size | size << 8));
            EXPECT_EQ(r.u16(), 16u);  // colours, reserved
            EXPECT_EQ(r.u16(), 1u);   // planes
            EXPECT_EQ(r.u16(), 4u);   // bits per pixel
            r.u32();
            const WORD image_id = static_cast<WORD>(r.u16());
            const std::string image = file.resource(MAKEINTRESOURCEA(3) /* RT_ICON */, image_id);
            ASSERT_GE(image.size(), 40u) << size;
            BITMAPINFOHEADER header;
            std::memcpy(&header, image.data(), sizeof header);
            EXPECT_EQ(header.biWidth, size);
            EXPECT_EQ(header.biHeight, 2 * size);
            EXPECT_EQ(header.biBitCount, 4);
        }
    }
}

}  // namespace

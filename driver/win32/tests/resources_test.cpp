// The resources as stored in each program's file.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/edition.h"

namespace {

// A resource of a program's file in Chinese (Taiwan), read as data, and a
// reader of its 16- and 32-bit words and UTF-16 strings.
struct Resource {
    std::string bytes;
    size_t at = 0;

    Resource(const char *program, WORD type, WORD id)
    {
        const std::string path = std::string(KORIN_PROGRAMS "/") + program;
        HMODULE file = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        HRSRC found = FindResourceExA(file, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(id),
                                      MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL));
        if (found)
            bytes.assign(static_cast<const char *>(LockResource(LoadResource(file, found))),
                         SizeofResource(file, found));
        if (file) FreeLibrary(file);
    }
    uint32_t u16()
    {
        uint16_t v = 0;
        if (at + 2 <= bytes.size()) std::memcpy(&v, bytes.data() + at, 2);
        at += 2;
        return v;
    }
    uint32_t u32() { return u16() | u16() << 16; }
    std::wstring text()
    {
        std::wstring s;
        while (const wchar_t c = static_cast<wchar_t>(u16())) s += c;
        return s;
    }
};

// Every edition's program, from the tables.
const struct {
    const char *id, *program;
    EditionTexts texts;
} EDITIONS[] = {
#include "editions.inc"
};
constexpr WORD RT_DIALOG_TEMPLATE = 5;

TEST(Resources, ConfirmationDialogTemplateIsStoredAsDesigned)
{
    const struct {
        uint32_t style, x, y, cx, cy, id, class_atom;  // atoms: 0x80 button, 0x82 static
        const wchar_t *text;
    } controls[] = {
        {0x50010001, 35, 60, 50, 14, 1, 0x80, L"確定"},
        {0x50010000, 105, 60, 50, 14, 2, 0x80, L"取消"},
        {0x50020201, 35, 20, 125, 20, 1000, 0x82, L"要執行更新嗎？"},
        {0x50000007, 15, 5, 160, 45, 0xFFFF, 0x80, L""},
    };
    for (const auto &[id, program, texts] : EDITIONS) {
        Resource r(program, RT_DIALOG_TEMPLATE, 101);
        ASSERT_FALSE(r.bytes.empty()) << program;
        // Style, no extended style, 4 controls at 0,0 sized 187 x 85, no menu,
        // the standard class, no caption, font "System" 10.
        EXPECT_EQ(r.u32(), 0x80C800C0u) << program;
        for (uint32_t word : {0u, 0u, 4u, 0u, 0u, 187u, 85u, 0u, 0u, 0u, 10u}) EXPECT_EQ(r.u16(), word) << program;
        EXPECT_EQ(r.text(), L"System");
        for (const auto &c : controls) {
            r.at = (r.at + 3) & ~size_t(3);
            EXPECT_EQ(r.u32(), c.style) << program << " " << c.id;
            EXPECT_EQ(r.u32(), 0u);
            for (uint32_t word : {c.x, c.y, c.cx, c.cy, c.id, 0xFFFFu, c.class_atom})
                EXPECT_EQ(r.u16(), word) << program << " " << c.id;
            EXPECT_TRUE(r.text() == c.text) << program << " " << c.id;
            EXPECT_EQ(r.u16(), 0u);  // no creation data
        }
        EXPECT_EQ(r.at, r.bytes.size()) << program;
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace {

using namespace std::string_literals;

TEST(DefaultExtension, TakenFromTheFirstDescriptionOnlyWhenThePathHasNoDot)
{
    const struct {
        const char *path;
        const char *filter;  // zero-terminated strings; the literal's NUL ends the list
        const char *result;
    } cases[] = {
        {"C:\\Pictures\\sky", "Bitmap (*.bmp)\0*.bmp\0", "C:\\Pictures\\sky.bmp"},
        {"sky", "Images (*.bmp;*.jpg)\0*.bmp;*.jpg\0", "sky.bmp;*.jpg"},
        {"sky.png", "Bitmap (*.bmp)\0*.bmp\0", "sky.png"},
        {"C:\\old.pics\\sky", "Bitmap (*.bmp)\0*.bmp\0", "C:\\old.pics\\sky"},
        {"sky", "All files\0*.*\0", "sky"},                 // the pattern is not looked at
        {"sky", "Bitmap (*.bmp\0*.bmp)\0", "sky"},          // no ')' in the description
        {"sky", "Files (all) of v1.2\0*.*\0", "sky"},       // ')' only before the dot
    };
    for (const auto &c : cases) {
        char path[64];
        std::strcpy(path, c.path);
        ui_add_default_ext(path, c.filter);
        EXPECT_STREQ(path, c.result) << c.path << " with " << c.filter;
    }
}

TEST(MultiNameList, StepsThroughEveryNameThenEnds)
{
    const struct {
        std::string list;  // folder, names, final NUL
        std::vector<std::string> names;
    } cases[] = {
        {"C:\\Games\0a.pak\0b.pak\0c.pak\0\0"s, {"a.pak", "b.pak", "c.pak"}},
        {"C:\\Games\0\0"s, {}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> names;
        for (const char *n = ui_next_multi_name(c.list.data()); n; n = ui_next_multi_name(n))
            names.push_back(n);
        EXPECT_EQ(names, c.names);
    }
}

}  // namespace

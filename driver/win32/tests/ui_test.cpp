#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
    const std::pair<std::string, std::string> cases[] = {{"C:\\Games\0a.pak\0b.pak\0\0"s, "a.pak b.pak "},
                                                          {"C:\\Games\0\0"s, ""}};  // folder, names, final NUL
    for (const auto &[list, names] : cases) {
        std::string got;
        for (const char *n = ui_next_multi_name(list.data()); n; n = ui_next_multi_name(n)) got += n + " "s;
        EXPECT_EQ(got, names);
    }
}

}  // namespace

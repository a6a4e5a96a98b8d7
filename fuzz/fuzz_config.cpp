// Loading arbitrary configuration text (with an include file also made of
// input bytes), then walking every section, key and macro and reading every
// value as a number.
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The input splits at its first 0xFF byte: main text, then the include.
    const uint8_t *cut = static_cast<const uint8_t *>(std::memchr(data, 0xFF, size));
    const size_t main_size = cut ? static_cast<size_t>(cut - data) : size;
    std::string main_text = "#include fuzzinc.ini\r\n";
    main_text.append(reinterpret_cast<const char *>(data), main_size);
    fuzz::put_file("fuzzinc.ini", cut ? cut + 1 : data, cut ? size - main_size - 1 : 0);
    const std::string path = fuzz::put_file("fuzz.ini", reinterpret_cast<const uint8_t *>(main_text.data()), main_text.size());

    cfg_reset();
    if (cfg_load(path.c_str()) == 1) {
        // Handle 1 is the first record, where the section chain starts.
        // No value or name can be longer than everything loaded.
        std::vector<char> name(main_text.size() + size + 3), value(main_text.size() + size + 3);
        int32_t sections = 0;
        for (int32_t s = 1; s && sections < 100000; s = cfg_next_section(s, name.data())) {
            ++sections;
            int32_t keys = 0;
            for (int32_t k = cfg_next_key(s, name.data(), value.data()); k && keys < 100000; k = cfg_next_key(k, name.data(), value.data())) {
                ++keys;
                int32_t n = 0;
                cfg_value_to_int(value.data(), &n);
                cfg_find_macro(value.data(), name.data());
                cfg_get_int(name.data(), 1, s, &n);
            }
            FUZZ_CHECK(cfg_count_keys(nullptr, s) >= 0);
        }
        cfg_count_sections(nullptr, 1);
    }
    cfg_reset();
    return 0;
}

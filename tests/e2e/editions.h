// The deliverables under test and what each must show. The texts come from
// the editions' own tables, converted to the edition's code page outside
// this program (by iconv), so no expected text is typed twice.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace e2e {

// Bytes in an edition's code page; printed as UTF-8 when a check fails.
struct Text {
    std::string bytes;
    bool operator==(const Text &) const = default;
};
void PrintTo(const Text &text, std::ostream *out);

struct Edition {
    std::string id;           // "v106"
    std::string deliverable;  // the finished program with its payload
    std::string signed_copy;  // the same, signed with a test certificate
    int code_page = 0;
    uint32_t pak_size = 0;    // the size of Korin3.PAK it accepts
    std::map<std::string, std::string> table;

    // The table's text of that key; a missing key fails the test that asks.
    Text text(const std::string &key) const;
};

// Names a failing test's edition by its id.
void PrintTo(const Edition *edition, std::ostream *out);

// Every edition given on the command line, and those whose code page is
// this process's, which are the ones whose texts can be checked here.
const std::vector<Edition> &all_editions();
std::vector<const Edition *> testable_editions();

}  // namespace e2e

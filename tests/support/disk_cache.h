// What a disk may hold after a power cut. The fault layer logs the changes a
// run makes to a pinned folder and the steps that made them durable
// (platform/fault.h); from that log this builds the folder as the disk could
// hold it had the power gone after any prefix of it: a write not yet flushed
// kept, lost or torn at a 512-byte boundary, a name change not yet made
// durable kept or undone, in any order the durable ones allow.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace disk_cache {

using Bytes = std::vector<uint8_t>;
using Folder = std::map<std::string, Bytes>;  // file name -> content

struct Event {
    int kind;  // CacheEventKind
    int handle;
    uint32_t offset;
    Bytes data;
    std::string name, to;
};
using Log = std::vector<Event>;

// The fault layer's log so far, copied.
Log take_log();
// The log with the events keep refuses dropped: a durability step a test
// pretends was never taken.
Log without(const Log &log, const std::function<bool(const Log &, size_t)> &drop);
// The name the handle of event i was opened or made under, as far as the log
// tells ("" when it tells nothing).
std::string file_of(const Log &log, size_t i);

constexpr uint32_t SECTOR = 512;

// The disk after the first `cut` events of log, replayed over base (all of
// it durable). Files of base that the log never touches keep their content.
class Cut {
public:
    Cut(const Folder &base, const Log &log, size_t cut, bool names_in_order);
    // How many disk states the choices give (saturated at 1 << 40).
    uint64_t count() const;
    // The state of the index-th combination of choices (index < count()).
    Folder state(uint64_t index, std::string *how = nullptr) const;
    // A state of random choices.
    Folder sample(std::mt19937_64 &rng, std::string *how = nullptr) const;
    // The cache as the running program saw it: everything kept.
    Folder seen() const;
    size_t pending_writes() const { return writes_.size(); }
    size_t pending_names() const { return ops_.size(); }
    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }

private:
    struct Write {
        int file;
        uint32_t offset;
        Bytes data;
        int options() const;  // keep, lose, and a tear at each boundary inside
    };
    struct NameOp {
        int kind;
        int file, replaced;  // replaced: the file that stood at `to`, or -1
        std::string name, to;
    };
    std::vector<Bytes> durable_;           // per file, its durable content
    std::map<std::string, int> names_;     // the durable names
    std::vector<Write> writes_;            // not flushed, in order
    std::vector<NameOp> ops_;              // not durable, in order
    std::vector<std::vector<bool>> name_choices_;  // which ops are kept
    bool in_order_;
    std::string error_;

    bool depends(size_t later, size_t earlier) const;
    std::vector<bool> closed(std::vector<bool> kept) const;
    Folder build(const std::vector<bool> &kept_ops, const std::vector<int> &write_choice, std::string *how) const;
};

}  // namespace disk_cache

#include "tests/support/disk_cache.h"

#include <cstring>

#include "platform/fault.h"

namespace disk_cache {

namespace {

constexpr uint64_t SATURATED = uint64_t{1} << 40;

void put(Bytes &file, uint32_t offset, const uint8_t *data, size_t n)
{
    if (file.size() < offset + n) file.resize(offset + n);  // a gap reads as zeros
    if (n) std::memcpy(file.data() + offset, data, n);
}

uint64_t times(uint64_t a, uint64_t b) { return a && b > SATURATED / a ? SATURATED : a * b; }

}  // namespace

Log take_log()
{
    Log log;
    for (int i = 0; i < fault_cache_count(); ++i) {
        const CacheEvent *e = fault_cache_event(i);
        log.push_back({e->kind, e->handle, e->offset, Bytes(e->data, e->data + e->length), e->name, e->to});
    }
    return log;
}

Log without(const Log &log, const std::function<bool(const Log &, size_t)> &drop)
{
    Log out;
    for (size_t i = 0; i < log.size(); ++i)
        if (!drop(log, i)) out.push_back(log[i]);
    return out;
}

std::string file_of(const Log &log, size_t i)
{
    for (size_t k = i + 1; k-- > 0;) {
        const Event &e = log[k];
        if (e.handle != log[i].handle || e.kind == CACHE_FOLDER_SYNC) continue;
        if (e.kind == CACHE_RENAME && k < i) return e.to;
        if (e.kind == CACHE_OPEN || e.kind == CACHE_CREATE) return e.name;
    }
    return "";
}

int Cut::Write::options() const
{
    const uint32_t end = offset + static_cast<uint32_t>(data.size());
    const uint32_t first = (offset / SECTOR + 1) * SECTOR;
    return 2 + (first < end ? static_cast<int>((end - 1 - first) / SECTOR + 1) : 0);
}

Cut::Cut(const Folder &base, const Log &log, size_t cut, bool names_in_order) : in_order_(names_in_order)
{
    std::map<std::string, int> view;  // the names as the running program saw them
    std::map<int, int> handles;       // handle -> file; -1 for a file outside the model
    for (const auto &[name, bytes] : base) {
        names_[name] = view[name] = static_cast<int>(durable_.size());
        durable_.push_back(bytes);
    }
    const auto file = [&](const Event &e) {
        const auto h = handles.find(e.handle);
        if (h == handles.end() || h->second < 0) error_ = "a change to a file the model does not know: " + e.name;
        return h == handles.end() ? -1 : h->second;
    };
    const auto make_durable = [&](const std::vector<bool> &which) {
        std::vector<NameOp> left;
        for (size_t j = 0; j < ops_.size(); ++j) {
            if (!which[j]) {
                left.push_back(ops_[j]);
                continue;
            }
            const NameOp &op = ops_[j];
            if (op.kind == CACHE_CREATE) names_[op.name] = op.file;
            if (op.kind == CACHE_RENAME) names_.erase(op.name), names_[op.to] = op.file;
            if (op.kind == CACHE_DELETE) names_.erase(op.name);
        }
        ops_ = left;
    };
    for (size_t i = 0; i < cut && i < log.size() && ok(); ++i) {
        const Event &e = log[i];
        switch (e.kind) {
        case CACHE_OPEN: {
            const auto at = view.find(e.name);
            handles[e.handle] = at == view.end() ? -1 : at->second;
            break;
        }
        case CACHE_CREATE: {
            const int f = static_cast<int>(durable_.size());
            durable_.emplace_back();
            view[e.name] = handles[e.handle] = f;
            ops_.push_back({CACHE_CREATE, f, -1, e.name, ""});
            break;
        }
        case CACHE_WRITE: {
            const int f = file(e);
            if (f >= 0) writes_.push_back({f, e.offset, e.data});
            break;
        }
        case CACHE_FLUSH: {
            const int f = file(e);
            std::vector<Write> left;
            for (const Write &w : writes_) {
                if (w.file == f) put(durable_[f], w.offset, w.data.data(), w.data.size());
                else left.push_back(w);
            }
            writes_ = left;
            break;
        }
        case CACHE_RENAME: {
            const int f = file(e);
            const auto at = view.find(e.to);
            ops_.push_back({CACHE_RENAME, f, at == view.end() ? -1 : at->second, e.name, e.to});
            view.erase(e.name);
            view[e.to] = f;
            break;
        }
        case CACHE_DELETE:
            ops_.push_back({CACHE_DELETE, file(e), -1, e.name, ""});
            view.erase(e.name);
            break;
        case CACHE_CLOSE:
            handles.erase(e.handle);
            break;
        case CACHE_FOLDER_SYNC:
            make_durable(std::vector<bool>(ops_.size(), true));
            break;
        case CACHE_ENTRY_SYNC: {
            const int f = file(e);
            std::vector<bool> which(ops_.size(), in_order_);
            for (size_t j = 0; j < ops_.size(); ++j)
                if (ops_[j].file == f || ops_[j].replaced == f) which[j] = true;
            make_durable(closed(which));
            break;
        }
        default:
            error_ = "an event of unknown kind";
        }
    }
    const size_t n = ops_.size();
    if (in_order_) {
        for (size_t keep = 0; keep <= n; ++keep) {
            std::vector<bool> v(n, false);
            for (size_t j = 0; j < keep; ++j) v[j] = true;
            name_choices_.push_back(v);
        }
    } else if (n <= 16) {
        for (uint32_t mask = 0; mask < (1u << n); ++mask) {
            std::vector<bool> v(n);
            for (size_t j = 0; j < n; ++j) v[j] = mask >> j & 1;
            if (closed(v) == v) name_choices_.push_back(v);
        }
    }
}

bool Cut::depends(size_t later, size_t earlier) const
{
    const NameOp &a = ops_[later], &b = ops_[earlier];
    const auto same_file = [](int x, int y) { return x >= 0 && x == y; };
    const auto same_name = [](const std::string &x, const std::string &y) { return !x.empty() && x == y; };
    return same_file(a.file, b.file) || same_file(a.file, b.replaced) || same_file(a.replaced, b.file) ||
           same_file(a.replaced, b.replaced) || same_name(a.name, b.name) || same_name(a.name, b.to) ||
           same_name(a.to, b.name) || same_name(a.to, b.to);
}

// A later change kept keeps every earlier one it builds on.
std::vector<bool> Cut::closed(std::vector<bool> kept) const
{
    for (size_t j = kept.size(); j-- > 0;)
        if (kept[j])
            for (size_t i = 0; i < j; ++i)
                if (depends(j, i)) kept[i] = true;
    return kept;
}

uint64_t Cut::count() const
{
    uint64_t n = name_choices_.empty() ? SATURATED : name_choices_.size();
    for (const Write &w : writes_) n = times(n, static_cast<uint64_t>(w.options()));
    return n;
}

Folder Cut::state(uint64_t index, std::string *how) const
{
    const std::vector<bool> &kept = name_choices_[index % name_choices_.size()];
    index /= name_choices_.size();
    std::vector<int> choice;
    for (const Write &w : writes_) {
        choice.push_back(static_cast<int>(index % static_cast<uint64_t>(w.options())));
        index /= static_cast<uint64_t>(w.options());
    }
    return build(kept, choice, how);
}

Folder Cut::sample(std::mt19937_64 &rng, std::string *how) const
{
    std::vector<bool> kept(ops_.size());
    if (!name_choices_.empty()) {
        kept = name_choices_[rng() % name_choices_.size()];
    } else {
        for (size_t j = 0; j < kept.size(); ++j) kept[j] = rng() & 1;
        kept = closed(kept);
    }
    // Kept, lost and torn alike often, whatever the count of places to tear.
    std::vector<int> choice;
    for (const Write &w : writes_) {
        const int tears = w.options() - 2;
        const int way = static_cast<int>(rng() % (tears ? 3 : 2));
        choice.push_back(way < 2 ? way : 2 + static_cast<int>(rng() % static_cast<uint64_t>(tears)));
    }
    return build(kept, choice, how);
}

Folder Cut::seen() const { return build(std::vector<bool>(ops_.size(), true), std::vector<int>(writes_.size(), 0), nullptr); }

Folder Cut::build(const std::vector<bool> &kept, const std::vector<int> &choice, std::string *how) const
{
    std::map<std::string, int> names = names_;
    for (size_t j = 0; j < ops_.size(); ++j) {
        const NameOp &op = ops_[j];
        const char *what = op.kind == CACHE_CREATE ? "create " : op.kind == CACHE_RENAME ? "rename " : "delete ";
        if (!kept[j]) {
            if (how) *how += std::string("undone: ") + what + op.name + (op.to.empty() ? "" : " -> " + op.to) + "; ";
            continue;
        }
        const auto at = names.find(op.name);
        if (op.kind == CACHE_CREATE) names[op.name] = op.file;
        else if (at == names.end() || at->second != op.file) continue;  // cannot happen in a closed choice
        if (op.kind == CACHE_RENAME) names.erase(at), names[op.to] = op.file;
        if (op.kind == CACHE_DELETE) names.erase(at);
    }
    std::map<int, Bytes> content;
    for (const auto &[name, f] : names)
        if (!content.count(f)) content[f] = durable_[f];
    for (size_t k = 0; k < writes_.size(); ++k) {
        const Write &w = writes_[k];
        const auto at = content.find(w.file);
        const uint32_t first = (w.offset / SECTOR + 1) * SECTOR;
        const size_t n = choice[k] == 0   ? w.data.size()
                         : choice[k] == 1 ? 0
                                          : first + SECTOR * static_cast<uint32_t>(choice[k] - 2) - w.offset;
        if (how && choice[k] != 0)
            *how += "write of " + std::to_string(w.data.size()) + " at " + std::to_string(w.offset) + " to file " +
                    std::to_string(w.file) + (n ? " torn after " + std::to_string(n) : " lost") + "; ";
        if (at != content.end()) put(at->second, w.offset, w.data.data(), n);
    }
    Folder out;
    for (const auto &[name, f] : names) out[name] = content[f];
    return out;
}

}  // namespace disk_cache

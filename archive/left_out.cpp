#include "archive/left_out.h"

#include <charconv>

namespace tessarine {

namespace {

void AppendField(std::string& records, std::string_view field) { records.append(field).push_back('\0'); }

// The next NUL-terminated field of `records`, taken off its front; false when
// no whole field is left.
bool TakeField(std::string_view& records, std::string_view& field) {
    const size_t end = records.find('\0');
    if (end == std::string_view::npos) return false;
    field = records.substr(0, end);
    records.remove_prefix(end + 1);
    return true;
}

template <class Number>
bool TakeNumber(std::string_view& records, Number& number) {
    std::string_view field;
    if (!TakeField(records, field) || field.empty()) return false;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), number);
    return error == std::errc() && end == field.data() + field.size();
}

}  // namespace

std::string EncodeLeftOut(const std::vector<LeftOutEntry>& entries) {
    std::string records;
    for (const auto& e : entries) {
        AppendField(records, e.name);
        AppendField(records, std::to_string(static_cast<unsigned>(e.reason.id)));
        AppendField(records, std::to_string(e.reason.error));
        AppendField(records, std::to_string(e.reason.args.size()));
        for (const auto& arg : e.reason.args) AppendField(records, arg);
    }
    return records;
}

std::vector<LeftOutEntry> DecodeLeftOut(std::string_view records) {
    std::vector<LeftOutEntry> entries;
    for (;;) {
        LeftOutEntry entry;
        std::string_view name;
        uint16_t id = 0;
        size_t count = 0;
        if (!TakeField(records, name) || !TakeNumber(records, id) || !TakeNumber(records, entry.reason.error) ||
            !TakeNumber(records, count) || count > records.size())
            break;
        entry.name = name;
        entry.reason.id = static_cast<MessageId>(id);
        bool whole = true;
        for (size_t k = 0; k < count && whole; ++k) {
            std::string_view arg;
            whole = TakeField(records, arg);
            if (whole) entry.reason.args.emplace_back(arg);
        }
        if (!whole) break;
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace tessarine

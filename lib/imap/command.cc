#include "lib/imap/command.h"

namespace lib::imap {

namespace {

bool has_line_break_or_nul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

Result<std::string> quote(std::string_view text) {
    if (has_line_break_or_nul(text))
        return err("text with a line break or NUL character cannot be sent as an IMAP string");
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

std::string sequence_set(std::span<const std::uint32_t> numbers) {
    std::string out;
    for (std::uint32_t n : numbers) {
        if (!out.empty()) out.push_back(',');
        out += std::to_string(n);
    }
    return out;
}

std::string TagSource::next() { return "a" + std::to_string(++n_); }

Command::Command(std::string_view name) : name_(name) {
    if (has_line_break_or_nul(name) || name.empty()) error_ = "invalid IMAP command name";
}

Command& Command::raw(std::string_view text) {
    if (error_.empty() && (text.empty() || has_line_break_or_nul(text)))
        error_ = name_ + ": argument with a line break, NUL character or nothing in it";
    args_ += ' ';
    args_ += text;
    return *this;
}

Command& Command::string(std::string_view text) {
    auto q = quote(text);
    if (!q) {
        if (error_.empty()) error_ = name_ + ": " + q.error();
        return *this;
    }
    args_ += ' ';
    args_ += *q;
    return *this;
}

Command& Command::number(std::uint64_t n) {
    args_ += ' ';
    args_ += std::to_string(n);
    return *this;
}

Result<std::string> Command::line(std::string_view tag) const {
    if (!error_.empty()) return err(error_);
    std::string out;
    out.reserve(tag.size() + name_.size() + args_.size() + 3);
    out += tag;
    out += ' ';
    out += name_;
    out += args_;
    out += "\r\n";
    return out;
}

}  // namespace lib::imap

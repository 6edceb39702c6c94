#include "picture/base64_stream.h"

#include "picture/base64.h"
#include "platform/module_error.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>

namespace picture {
namespace {

// Faults of the text, as opposed to faults of the picture it holds.
[[noreturn]] void unreadable(const std::string &reason, std::string detail = {})
{
    throw ModuleError("Image de la ligne illisible : " + reason, std::move(detail));
}

enum CharClass : unsigned char { Digit, Padding, Blank, Invalid };

constexpr std::array<unsigned char, 256> makeClasses()
{
    std::array<unsigned char, 256> classes{};
    classes.fill(Invalid);
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (const char c : alphabet)
        classes[static_cast<unsigned char>(c)] = Digit;
    classes['='] = Padding;
    for (const char c : std::string_view(" \t\r\n"))
        classes[static_cast<unsigned char>(c)] = Blank;
    return classes;
}

constexpr std::array<unsigned char, 256> kClasses = makeClasses();

unsigned char classOf(char c) noexcept { return kClasses[static_cast<unsigned char>(c)]; }

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) noexcept
{
    if (text.size() < prefix.size())
        return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(a) == lower(b);
    });
}

constexpr std::size_t kTextBlock = 64 * 1024; // characters decoded at a time; a multiple of 4

} // namespace

std::string_view withoutDataPrefix(std::string_view text)
{
    const std::size_t start = std::min(text.find_first_not_of(" \t\r\n"), text.size());
    text.remove_prefix(start);
    if (!startsWithIgnoringCase(text, "data:"))
        return text;
    const std::size_t comma = text.find(',');
    const std::string_view header = text.substr(0, comma);
    constexpr std::string_view marker = ";base64";
    if (comma == std::string_view::npos || header.size() < marker.size()
        || !startsWithIgnoringCase(header.substr(header.size() - marker.size()), marker))
        unreadable("préfixe data: sans base64.");
    return text.substr(comma + 1);
}

Base64Stream::Base64Stream(std::string_view text)
    : text_(text)
    , gathered_(std::make_unique_for_overwrite<char[]>(kTextBlock))
    , decoded_(std::make_unique_for_overwrite<unsigned char[]>(kTextBlock / 4 * 3))
{
}

std::size_t Base64Stream::read(unsigned char *out, std::size_t max)
{
    std::size_t total = 0;
    while (total < max) {
        if (start_ == end_ && !refill())
            break;
        const std::size_t n = std::min(max - total, end_ - start_);
        std::memcpy(out + total, decoded_.get() + start_, n);
        start_ += n;
        total += n;
    }
    return total;
}

void Base64Stream::drain()
{
    while (refill()) {
    }
}

bool Base64Stream::refill()
{
    start_ = end_ = 0;
    while (end_ == 0 && !ended_) {
        if (!decodeInPlace())
            gather();
    }
    return end_ != 0;
}

// The usual text, one line of the alphabet: a block decoded where it lies; a block
// with anything else in it ('=', a line break, a fault) goes the careful way.
bool Base64Stream::decodeInPlace() noexcept
{
    if (filled_ != 0 || padding_ != 0 || text_.size() - at_ < kTextBlock)
        return false;
    const char *block = text_.data() + at_;
    if (!decodeBase64Groups(block, kTextBlock, decoded_.get()))
        return false;
    at_ += kTextBlock;
    digits_ += kTextBlock;
    end_ = kTextBlock / 4 * 3;
    return true;
}

// Text with line breaks, blanks or a fault: the digits gathered one by one.
void Base64Stream::gather()
{
    const std::size_t size = text_.size();
    while (at_ < size && filled_ < kTextBlock) {
        const char c = text_[at_];
        switch (classOf(c)) {
        case Digit:
            if (padding_ != 0)
                unreadable("signe = au milieu du texte base64.", "position " + std::to_string(at_));
            gathered_[filled_++] = c;
            ++digits_;
            break;
        case Padding:
            ++padding_;
            break;
        case Blank:
            break;
        default:
            unreadable("caractère invalide dans le texte base64.", "position " + std::to_string(at_));
        }
        ++at_;
    }
    if (filled_ == kTextBlock) {
        if (!decodeBase64Groups(gathered_.get(), filled_, decoded_.get()))
            unreadable("texte base64 refusé par le décodeur.");
        end_ = kTextBlock / 4 * 3;
        filled_ = 0;
    } else if (at_ == size) {
        finish();
    }
}

void Base64Stream::finish()
{
    ended_ = true;
    if (digits_ == 0 && padding_ == 0)
        unreadable("aucune donnée.");
    const std::size_t tail = digits_ % 4;
    // A lone last character carries no whole byte; padding may only complete the last group.
    if (tail == 1 || (padding_ != 0 && (tail == 0 || tail + padding_ != 4)))
        unreadable("fin du texte base64 abîmée.");
    const std::size_t whole = filled_ - tail;
    if (!decodeBase64Groups(gathered_.get(), whole, decoded_.get()))
        unreadable("texte base64 refusé par le décodeur.");
    end_ = whole / 4 * 3;
    if (tail != 0) {
        if (!decodeBase64Tail(gathered_.get() + whole, tail, decoded_.get() + end_))
            unreadable("texte base64 refusé par le décodeur.");
        end_ += tail - 1;
    }
    filled_ = 0;
}

} // namespace picture

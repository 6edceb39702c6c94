#include "picture/picture_input.h"

#include <algorithm>
#include <cstring>

namespace picture {

std::span<const unsigned char> PictureInput::head()
{
    if (!headRead_) {
        headSize_ = stream_.read(head_.data(), head_.size());
        headRead_ = true;
    }
    return {head_.data(), headSize_};
}

std::size_t PictureInput::read(unsigned char *out, std::size_t max)
{
    std::size_t total = 0;
    if (headAt_ < headSize_) {
        total = std::min(max, headSize_ - headAt_);
        std::memcpy(out, head_.data() + headAt_, total);
        headAt_ += total;
    }
    return total + stream_.read(out + total, max - total);
}

bool PictureInput::pull(unsigned char *out, std::size_t max, std::size_t &got) noexcept
{
    try {
        got = read(out, max);
        return true;
    } catch (...) {
        failure_ = std::current_exception();
        got = 0;
        return false;
    }
}

void PictureInput::rethrowFailure() const
{
    if (failure_)
        std::rethrow_exception(failure_);
}

} // namespace picture

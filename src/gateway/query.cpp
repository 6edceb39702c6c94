#include "gateway/query.h"

namespace gateway {

std::string encodeQueryValue(std::string_view value)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        const bool special = c <= 0x20 || c >= 0x7F || ch == '&' || ch == '+' || ch == '=' || ch == '#'
                          || ch == '%' || ch == '?';
        if (special) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace gateway

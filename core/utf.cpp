#include "core/utf.h"

#include <stdexcept>

namespace korvel {

std::u16string utf8_to_utf16(std::string_view utf8) {
    auto const fail = [] { throw std::runtime_error("UTF-8 -> UTF-16 conversion failed"); };
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        auto const lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t value = 0;
        char32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) length = 2, value = lead & 0x1F, minimum = 0x80;
        else if (lead >= 0xE0 && lead <= 0xEF) length = 3, value = lead & 0x0F, minimum = 0x800;
        else if (lead >= 0xF0 && lead <= 0xF4) length = 4, value = lead & 0x07, minimum = 0x10000;
        else fail();
        if (utf8.size() - i < length) fail();
        for (std::size_t k = 1; k < length; ++k) {
            auto const next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) fail();
            value = (value << 6) | (next & 0x3F);
        }
        if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) fail();
        if (value >= 0x10000) {
            value -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(value));
        }
        i += length;
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t value = utf16[i];
        if (value >= 0xD800 && value <= 0xDFFF) {
            if (value >= 0xDC00 || i + 1 == utf16.size() || utf16[i + 1] < 0xDC00 || utf16[i + 1] > 0xDFFF)
                throw std::runtime_error("UTF-16 -> UTF-8 conversion failed");
            value = 0x10000 + ((value - 0xD800) << 10) + (utf16[++i] - 0xDC00);
        }
        if (value < 0x80) {
            out.push_back(static_cast<char>(value));
        } else if (value < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (value >> 6)));
            out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
        } else if (value < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (value >> 12)));
            out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (value >> 18)));
            out.push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
        }
    }
    return out;
}

}  // namespace korvel

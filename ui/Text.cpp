#include "ui/Text.h"

namespace tarnwick::ui {

namespace {

// Length of the valid UTF-8 sequence starting at `i`, or 0 when the byte there does not start one.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    std::size_t length = 0;
    char32_t minimum = 0;
    char32_t code = 0;
    if (b0 < 0x80) {
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, code = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, code = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, code = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + length > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

}  // namespace

QString ToQt(std::string_view bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t length = Utf8SequenceLength(bytes, i);
        if (length == 0) {
            text.append(QChar(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[i]))));
            ++i;
        } else {
            text.append(QString::fromUtf8(bytes.data() + i, static_cast<qsizetype>(length)));
            i += length;
        }
    }
    return text;
}

std::string FromQt(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    qsizetype start = 0;
    const auto flush = [&](qsizetype end) {
        if (end > start) {
            bytes += text.mid(start, end - start).toStdString();
        }
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        const bool escaped = unit >= 0xDC80 && unit <= 0xDCFF &&
                             (i == 0 || !text.at(i - 1).isHighSurrogate());
        if (escaped) {
            flush(i);
            bytes.push_back(static_cast<char>(unit - 0xDC00));
            start = i + 1;
        }
    }
    flush(text.size());
    return bytes;
}

QString PlainCaption(const QString& caption) {
    QString shown = caption;
    shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
    return shown;
}

}  // namespace tarnwick::ui

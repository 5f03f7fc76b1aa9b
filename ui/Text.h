#pragma once
// Conversions between the program's texts (bytes, UTF-8 on Linux) and Qt's strings.
//
// File names on Linux are bytes and need not be valid UTF-8. Bytes that are not part of a valid
// UTF-8 sequence are carried as the lone surrogates U+DC80..U+DCFF, so that a path shown in a
// widget and read back from it is the same path, byte for byte.

#include <QString>
#include <string>
#include <string_view>

namespace tarnwick::ui {

QString ToQt(std::string_view bytes);
std::string FromQt(const QString& text);

// A caption in which "&&" stands for one "&", as shown by a label without a keyboard accelerator.
QString PlainCaption(const QString& caption);

}  // namespace tarnwick::ui

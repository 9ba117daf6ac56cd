#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// Appends `text` to `out` with its HTML character references decoded (the
// named ones of HTML 4 and &apos;, decimal and hex ones), in one pass from
// left to right: what a reference yields is never read as the start of
// another. A reference that is not well formed or not known stays as it is.
void appendDecodedReferences(QString &out, QStringView text);

// The character of the reference that starts with the "&" at `amp`, and the
// index just past its ";"; nothing when it is not well formed or not known.
std::optional<char32_t> characterReferenceAt(QStringView text, qsizetype amp, qsizetype *end);

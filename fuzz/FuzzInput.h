#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

// What the fuzz targets share: how an input is read, and how a broken invariant is reported.
namespace fuzz {

QByteArrayView bytes(const std::uint8_t* data, std::size_t size);

// Reads as a serial port or a pipe hands them over: each read is a length byte followed by that
// many bytes; when fewer remain, the last read takes what is left.
QList<QByteArray> lengthPrefixedReads(QByteArrayView input);

// Words separated by NUL bytes, each decoded as UTF-8. A NUL at the very end closes the last word
// rather than opening an empty one, so "a\0b\0" and "a\0b" are both two words.
QStringList nulSeparatedWords(QByteArrayView input);

// The input taken as UTF-16 code units in the machine's byte order (an odd last byte is dropped).
// Unlike UTF-8, this reaches texts with unpaired surrogates.
QString utf16Text(QByteArrayView input);

// Aborts, naming the invariant, when the condition is false: libFuzzer keeps the input that
// caused it.
void check(bool condition, const char* invariant);

}  // namespace fuzz

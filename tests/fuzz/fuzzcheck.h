#pragma once

#include <QByteArrayView>

#include <cstdint>
#include <cstdlib>

// A property that does not hold aborts, and the fuzzer keeps the input as a crash.
inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The fuzzer's input as bytes, without a copy.
inline QByteArrayView fuzzInput(const uint8_t *data, size_t size)
{
    return QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size));
}

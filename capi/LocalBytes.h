// Values that CryptoAPI hands over in two calls: the first learns the size,
// the second fills a LocalAlloc block of that size.
#pragma once

#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "CryptHandles.h"
#include "Encoding.h"

// A block and the number of its bytes that the filling call reported.
struct LocalBytes {
    LocalBuffer block;
    DWORD size = 0;

    const BYTE* data() const { return static_cast<const BYTE*>(block.get()); }
    Bytes bytes() const { return Bytes(data(), data() + size); }
};

// The calling step's messages for a failed size query, allocation and fill.
struct TwoCallFailures {
    const char* sizeQuery;
    const char* allocation;
    const char* fill;
};

// `call(buffer, &size)` is the CryptoAPI call, once without a buffer and
// once with one of the size learnt. Only the bytes that the second call
// reports are kept, never more than were allocated.
template <typename Call> LocalBytes sizeThenFill(Call call, const TwoCallFailures& failures)
{
    DWORD size = 0;
    if (!call(nullptr, &size))
        throw std::runtime_error(failures.sizeQuery);
    LocalBytes value { LocalBuffer(LocalAlloc(LPTR, size)) };
    if (!value.block)
        throw std::runtime_error(failures.allocation);
    DWORD filled = size;
    if (!call(static_cast<BYTE*>(value.block.get()), &filled))
        throw std::runtime_error(failures.fill);
    value.size = std::min(filled, size);
    return value;
}

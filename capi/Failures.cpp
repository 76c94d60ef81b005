#include "Failures.h"

#include <wincrypt.h>

namespace {

struct ErrorCodeText {
    DWORD code;
    const char* text;
};

constexpr ErrorCodeText kErrorCodeTexts[] = {
    {static_cast<DWORD>(NTE_KEYSET_NOT_DEF), kKeysetNotDefinedText},
    {static_cast<DWORD>(NTE_NO_KEY), kNoKeyText},
};

}  // namespace

std::string errorCodeText(DWORD code)
{
    for (const auto& entry : kErrorCodeTexts)
        if (entry.code == code)
            return entry.text;
    return kErrorCodePrefix + std::to_string(code);
}

std::string lastErrorText() { return errorCodeText(GetLastError()); }

std::string errorTextAnswer(const std::string& message) { return "{\"error\":\"" + message + "\"}"; }

std::string failureMessage(const std::exception& failure)
{
    const char* text = failure.what();
    return text && *text ? text : kUnexpectedError;
}

// How the CryptoAPI operations fail: a message built from the last Windows
// error, and the two styles in which an operation hands a failure on.
#pragma once

#include <windows.h>

#include <exception>
#include <stdexcept>
#include <string>

#include "CapiMessages.h"

// The text for a Windows error code; lastErrorText reads the calling thread's
// last error, so call it right after the failing call.
std::string errorCodeText(DWORD code);
std::string lastErrorText();

// {"error":"<message>"}, the message inserted as it is.
std::string errorTextAnswer(const std::string& message);

// The failure's own text, or kUnexpectedError when it carries none.
std::string failureMessage(const std::exception& failure);

// Raised style: whatever fails inside `body` leaves as a std::runtime_error.
template <typename Body>
auto raisedStyle(Body body) -> decltype(body())
{
    try {
        return body();
    } catch (const std::exception& failure) {
        throw std::runtime_error(failureMessage(failure));
    } catch (...) {
        throw std::runtime_error(kUnexpectedError);
    }
}

// ErrorText style: a failure inside `body` is answered, never raised.
template <typename Body>
std::string errorTextStyle(Body body)
{
    try {
        return body();
    } catch (const std::exception& failure) {
        return errorTextAnswer(failureMessage(failure));
    } catch (...) {
        return errorTextAnswer(kUnexpectedError);
    }
}

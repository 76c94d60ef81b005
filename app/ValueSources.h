// Values that reach a request off the command line. Windows caps a whole
// command line at 32,767 characters, and every process of the user can read
// the command lines of the others (auditing tools log them, PINs included).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "Secret.h"

// A value that must be held whole (a list, a certificate, a ready digest)
// holds at most this many bytes: far more than the largest lists that
// callers sign (100,000 items are about 11 MB), and little enough that the
// 32-bit program parses a list of that size in a few hundred megabytes.
inline constexpr std::size_t kHeldValueCeiling = 64 * 1024 * 1024;

// Takes one piece of a value as it is read; raising stops the reading.
using ValuePiece = std::function<void(const char* data, std::size_t size)>;

// The bytes of the file at `path`, in pieces.
void readValueFile(const std::string& path, const ValuePiece& piece);

// Standard input to its end, in pieces.
void readStandardInput(const ValuePiece& piece);

// A whole value from a reader above; past kHeldValueCeiling it raises
// std::runtime_error with kValueTooLarge, and reads no further.
std::string heldValue(const std::function<void(const ValuePiece&)>& read);

// Standard input up to its first line break (CR or LF), without it and
// without a leading UTF-8 byte-order mark; a line of more than 256 bytes
// raises std::runtime_error with kLineTooLong once its 257th byte is read.
SecretText readStandardInputLine();

// Each raises std::runtime_error with kValueUnreadable and the path ("-" for
// standard input) when the value cannot be read.

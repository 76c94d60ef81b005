// Values that reach a request off the command line. Windows caps a whole
// command line at 32,767 characters, and every process of the user can read
// the command lines of the others (auditing tools log them, PINs included).
#pragma once

#include <string>

#include "Secret.h"

// The bytes of the file at `path`.
std::string readValueFile(const std::string& path);

// Standard input to its end.
std::string readStandardInput();

// Standard input up to its first line break (CR or LF), without it and
// without a leading UTF-8 byte-order mark; a line of more than 256 bytes
// raises std::runtime_error with kLineTooLong once its 257th byte is read.
SecretText readStandardInputLine();

// Each raises std::runtime_error with kValueUnreadable and the path ("-" for
// standard input) when the value cannot be read.

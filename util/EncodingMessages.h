// Texts of the encodings that callers see.
#pragma once

// Data to sign that is not well-formed base64 signs nothing.
inline constexpr const char* kDataNotBase64 = "Dados nao estao em base64 valido";

// Certificates as DER bytes: the checks of the bytes that a caller hands over
// as an issued certificate, before they are stored anywhere, and the values
// of a name as the certificate encodes them.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <optional>
#include <vector>

#include "Encoding.h"

// One DER element at the start of some bytes: its tag and the sizes of its
// header (tag and length) and content.
struct DerElement {
    BYTE tag;
    std::size_t headerSize;
    std::size_t contentSize;

    std::size_t size() const { return headerSize + contentSize; }
};

// None when the header is cut short, the length is indefinite or takes more
// than 4 bytes, or the content runs past `size`.
std::optional<DerElement> derElement(const BYTE* data, std::size_t size);

// One DER SEQUENCE with a definite length and nothing after it.
bool isOneDerSequence(const Bytes& der);

// Exactly one X.509 certificate in DER that crypt32 decodes.
bool isOneCertificate(const Bytes& der);

// Each attribute value of a DER Name, its tag, length and bytes, RDN by RDN
// in the encoded order; none when the bytes are no such name.
std::optional<std::vector<std::vector<Bytes>>> nameValueEncodings(const CERT_NAME_BLOB& name);

// What a caller shows of a certificate to let its user pick one: the names
// in their RFC 4514 form, serial number, validity, key usage and the
// Brazilian taxpayer numbers of the alternative name, all read through
// CryptoAPI's own decoding.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <nlohmann/json.hpp>

#include "Encoding.h"

// The record of a certificate that decoded: "decodable" true and every field
// that the certificate holds (a field it lacks is left out); only
// {"decodable": false} when its names do not decode.
nlohmann::json certificateDetails(PCCERT_CONTEXT certificate);

// The record of a certificate's DER bytes, known by `thumbprint`; bytes
// that are no certificate give {"decodable": false} and the thumbprint.
nlohmann::json certificateDetails(const Bytes& der, const std::string& thumbprint);

// The current user's "MY" store, one record per certificate in store order,
// each with its thumbprint and key link ("hasPrivateKey", and the key's
// "provider", "providerType" and "container" when there is one).
nlohmann::json storeCertificates();

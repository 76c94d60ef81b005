// RSA signatures made by the token (CKM_RSA_PKCS) over a DigestInfo that the
// host builds: the caller's data hashed here, or a digest the caller made.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "Encoding.h"
#include "P11Session.h"
#include "P11Slot.h"
#include "P11Store.h"

// The signature (base64), the empty text when no private key has the
// certificate's CKA_ID, or the digest size message. Raises the not-found
// message when no usable token holds a certificate with this thumbprint, and
// refuses data that is not base64 before any session.
std::string signByThumbprint(P11Store& store, const std::string& data, const std::string& thumbprint,
    const std::string& pin, const std::string& algorithmName, bool readyDigest);

// The same, with the key found by its CKA_ID on one token.
std::string signWithKeyId(P11Slot& slot, const std::string& data, const Bytes& keyId, const std::string& pin,
    const std::string& algorithmName, bool readyDigest);

// Inside a logged-in session.
std::string signInSession(const P11Session& session, const std::string& data, const Bytes& keyId,
    const std::string& algorithmName, bool readyDigest);

// Every item of a signList list (the list that `capi crypt signList` takes),
// in order, in one logged-in session on the token that holds the certificate;
// answers the compact JSON text of both roads' signList. Values that are not
// base64 are refused before any session, and a null or empty list answers
// "[]" without one. The first item that fails ends the request with its
// message (the digest size message included); nothing partial is answered.
// No private key with the certificate's CKA_ID raises kNoPrivateKey.
std::string signListByThumbprint(P11Store& store, const nlohmann::json& list, const std::string& thumbprint,
    const std::string& pin, const std::string& algorithmName);

std::string signListInSession(
    const P11Session& session, const nlohmann::json& list, const Bytes& keyId, const std::string& algorithmName);

// C_SignInit and C_Sign; raises the signing failure when the token refuses.
Bytes tokenSign(const P11Session& session, CK_OBJECT_HANDLE key, Bytes toSign);

// Compiled into every program that uses the stand-in (an interface source of
// the platform library), so that it runs before anything else asks OpenSSL
// for work.
#include <openssl/crypto.h>
#include <openssl/rand.h>

namespace {

// The stand-in answers as Windows does, whatever the host's OpenSSL
// configuration says, and shows none of OpenSSL's error texts: OpenSSL starts
// without reading either, which also spares every request the time to load
// them. Its random bytes (RSA blinding, new keys) come from a Hash DRBG over
// SHA-256: the default, AES-CTR, would build OpenSSL's whole cipher table in
// every process that signs, and nothing else here uses a cipher.
const int openSslStarted = OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS, nullptr)
    && RAND_set_DRBG_type(nullptr, "HASH-DRBG", nullptr, nullptr, "SHA256");

}  // namespace

// capi crypt signList with any list: the base64 of the fuzzer's bytes goes
// through the decoding, the parse and the item checks to the signing, with a
// key and certificate in place; the answer is one envelope of one member.
#include <cstdint>

#include "Encoding.h"
#include "FuzzMachine.h"
#include "KeyMaterial.h"

namespace {

const std::string kProvider = "Microsoft Enhanced RSA and AES Cryptographic Provider";
const std::string kContainer = "fuzz";
std::string thumbprint;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    useFreshMachine();
    answer({ "capi", "repo", "createKeyPair", kProvider, "24", kContainer, "false", "false", "1024", "-", "fuzz",
        "false" });
    // Any certificate serves: the container's key signs, found through the
    // certificate's key-provider information.
    const std::string der = selfSignedCertificate(1, "fuzz");
    if (!answer({ "capi", "repo", "importCertificate", kProvider, "24", kContainer, base64(der) }).contains("success"))
        std::abort();
    thumbprint = sha1Hex(der);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    answer({ "capi", "crypt", "signList", thumbprint, "sha256", base64Encode(data, size) });
    return 0;
}

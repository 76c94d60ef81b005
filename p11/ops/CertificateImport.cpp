#include "CertificateImport.h"

#include <stdexcept>

#include "AttributeTemplate.h"
#include "CertificateBytes.h"
#include "Encoding.h"
#include "Pkcs11Messages.h"
#include "TokenFailure.h"

namespace {

// The one vendor whose module wants the certificate's issuer, serial number
// and subject in the template; it takes placeholders for them.
constexpr const char* kLongTemplateType = "AT";
constexpr const char* kPlaceholderIssuer = "Temporary";
constexpr unsigned char kPlaceholderSerial[] = { 0x01 };
constexpr const char* kSubjectPrefix = "/CN=";

} // namespace

std::string importCertificate(P11Slot& slot, const std::string& keyIdText, const std::string& type,
    const std::string& label, const std::string& certificateText, const std::string& pin)
{
    // Refused before any session: what is no certificate never reaches the
    // token, nor does the PIN.
    if (!isOneCertificate(base64Decode(certificateText)))
        throw std::runtime_error(kCertificateImportRefused);
    const P11Session& session = slot.openSession(pin, true);
    const SessionGuard guard(slot);
    std::string result = createCertificateObject(session, keyIdText, type, label, certificateText);
    slot.closeSession();
    return result;
}

std::string createCertificateObject(const P11Session& session, const std::string& keyIdText, const std::string& type,
    const std::string& label, const std::string& certificateText)
{
    AttributeTemplate certificate;
    certificate.number(CKA_CERTIFICATE_TYPE, CKC_X_509)
        .bytes(CKA_VALUE, base64Decode(certificateText))
        .flag(CKA_TOKEN, CK_TRUE)
        .number(CKA_CLASS, CKO_CERTIFICATE)
        .bytes(CKA_ID, base64Decode(keyIdText))
        .text(CKA_LABEL, label);
    if (type == kLongTemplateType)
        certificate.flag(CKA_PRIVATE, CK_FALSE)
            .flag(CKA_MODIFIABLE, CK_TRUE)
            .text(CKA_ISSUER, kPlaceholderIssuer)
            .bytes(CKA_SERIAL_NUMBER, kPlaceholderSerial, sizeof kPlaceholderSerial)
            .text(CKA_SUBJECT, kSubjectPrefix + label);

    CK_OBJECT_HANDLE object = 0;
    const CK_RV rv = session.module().call(
        p11::C_CreateObject, IfMissing::Fail, session.handle(), certificate.data(), certificate.count(), &object);
    if (rv != CKR_OK)
        throw std::runtime_error(tokenFailure(kCertificateImportFailed, rv));
    return kCertificateImported + keyIdText;
}

#include "IssuedCertificates.h"

#include <openssl/x509v3.h>

#include <memory>
#include <sstream>
#include <stdexcept>

#include "KeyMaterial.h"

namespace {

using namespace std::string_literals;
using Json = nlohmann::json;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

struct Profile {
    long serial;
    // "/type=value/..." with "+" joining the members of one RDN; "type#N"
    // takes the value's bytes as they are, as ASN.1 string type N, even
    // characters that the type does not allow (as some CAs write them).
    std::string subject;
    const char* notBefore;
    const char* notAfter;
    // OpenSSL's configuration texts of the key usage and alternative name.
    const char* keyUsage;
    const char* alternativeName;
    Json record;
};

const std::string kIssuer = "/C=BR/O=ICP-Brasil/CN=AC Teste sigbrid";

void setName(X509_NAME* name, const std::string& text)
{
    std::istringstream rdns(text.substr(1));
    for (std::string rdn; std::getline(rdns, rdn, '/');) {
        std::istringstream members(rdn);
        int set = 0;
        for (std::string member; std::getline(members, member, '+'); set = -1) {
            const std::size_t equals = member.find('='), mark = member.find('#');
            const bool asIs = mark < equals;
            const std::string value = member.substr(equals + 1);
            X509_NAME_add_entry_by_txt(name, member.substr(0, asIs ? mark : equals).c_str(),
                asIs ? std::stoi(member.substr(mark + 1, equals - mark - 1)) : MBSTRING_UTF8,
                reinterpret_cast<const unsigned char*>(value.data()), static_cast<int>(value.size()), -1, set);
        }
    }
}

void addExtension(X509* certificate, const char* name, const char* value)
{
    if (!value)
        return;
    X509V3_CTX context;
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_nconf(nullptr, &context, name, value);
    if (!extension || !X509_add_ext(certificate, extension, -1))
        throw std::runtime_error(std::string("bad extension ") + value);
    X509_EXTENSION_free(extension);
}

std::string issue(const Profile& profile)
{
    Certificate certificate(X509_new(), X509_free);
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), profile.serial);
    setName(X509_get_issuer_name(certificate.get()), kIssuer);
    setName(X509_get_subject_name(certificate.get()), profile.subject);
    ASN1_TIME_set_string_X509(X509_getm_notBefore(certificate.get()), profile.notBefore);
    ASN1_TIME_set_string_X509(X509_getm_notAfter(certificate.get()), profile.notAfter);
    X509_set_pubkey(certificate.get(), suiteKey());
    addExtension(certificate.get(), "keyUsage", profile.keyUsage);
    addExtension(certificate.get(), "subjectAltName", profile.alternativeName);
    if (!X509_sign(certificate.get(), suiteKey(), EVP_sha256()))
        throw std::runtime_error("certificate signing failed");
    unsigned char* der = nullptr;
    const int size = i2d_X509(certificate.get(), &der);
    std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(size));
    OPENSSL_free(der);
    return bytes;
}

} // namespace

const std::vector<IssuedCertificate>& issuedCertificates()
{
    // The CPF follows the holder's birth date; what follows it (NIS, RG and
    // its issuer) is not read. A UTCTime year ends in 2049.
    static const Profile profiles[] = {
        { 0x1001,
            "/C=BR/O=ICP-Brasil/OU=Secretaria da Receita Federal do Brasil - RFB/OU=RFB e-CPF A3"
            "/CN=MARIA DA SILVA:12345678901",
            "20260101000000Z", "20290630235959Z", "critical,digitalSignature,nonRepudiation,keyEncipherment",
            "otherName:2.16.76.1.3.1;PRINTABLESTRING:0101198012345678901000000000000000000000000000SSPSP,"
            "otherName:2.16.76.1.3.6;PRINTABLESTRING:000000000000,email:maria@example.com.br",
            { { "subject",
                  "CN=MARIA DA SILVA:12345678901,OU=RFB e-CPF A3,OU=Secretaria da Receita Federal do Brasil - RFB,"
                  "O=ICP-Brasil,C=BR" },
                { "serialNumber", "1001" }, { "notBefore", "2026-01-01T00:00:00Z" },
                { "notAfter", "2029-06-30T23:59:59Z" },
                { "keyUsage", { "digitalSignature", "nonRepudiation", "keyEncipherment" } },
                { "cpf", "12345678901" } } },
        // The responsible person's CPF and the company's CNPJ, as UTF8String
        // and OCTET STRING; a positive serial number keeps its sign byte.
        { 0x80000001, "/C=BR/O=ICP-Brasil/OU=RFB e-CNPJ A1/CN=EMPRESA EXEMPLO LTDA:12345678000199", "20280229120000Z",
            "20510101000000Z", "digitalSignature,keyEncipherment,keyAgreement,decipherOnly",
            "otherName:2.16.76.1.3.4;UTF8:0202197098765432100000000000000000000000000000SSPRJ,"
            "otherName:2.16.76.1.3.2;UTF8:JOAO RESPONSAVEL,"
            "otherName:2.16.76.1.3.3;OCTETSTRING:12345678000199",
            { { "subject", "CN=EMPRESA EXEMPLO LTDA:12345678000199,OU=RFB e-CNPJ A1,O=ICP-Brasil,C=BR" },
                { "serialNumber", "0080000001" }, { "notBefore", "2028-02-29T12:00:00Z" },
                { "notAfter", "2051-01-01T00:00:00Z" },
                { "keyUsage", { "digitalSignature", "keyEncipherment", "keyAgreement", "decipherOnly" } },
                { "cpf", "98765432100" }, { "cnpj", "12345678000199" } } },
        // Too short, a letter among the digits, one digit too many: only the
        // last CPF field is whole.
        { 3, "/C=BR/O=ICP-Brasil/CN=CAMPOS ERRADOS", "20260101000000Z", "20270101000000Z",
            "dataEncipherment,keyCertSign,cRLSign,encipherOnly",
            "otherName:2.16.76.1.3.1;PRINTABLESTRING:010119801234567890,"
            "otherName:2.16.76.1.3.4;UTF8:01011980123456A8901000,"
            "otherName:2.16.76.1.3.3;PRINTABLESTRING:123456780001990,"
            "otherName:2.16.76.1.3.3;UTF8:1234567800019A,"
            "otherName:2.16.76.1.3.4;PRINTABLESTRING:3112199911144477735",
            { { "subject", "CN=CAMPOS ERRADOS,O=ICP-Brasil,C=BR" }, { "serialNumber", "03" },
                { "notBefore", "2026-01-01T00:00:00Z" }, { "notAfter", "2027-01-01T00:00:00Z" },
                { "keyUsage", { "dataEncipherment", "keyCertSign", "cRLSign", "encipherOnly" } },
                { "cpf", "11144477735" } } },
        // A type without a short name is written as its encoding; an RDN's
        // members come in their encoded order.
        { 4,
            "/C=BR/O=A\xC3\xA7\xC3\xBA"
            "car <Doce>; Cia/OU=Secretaria+OU=A3/CN=#JOS\xC3\x89 D'\xC3\x81VILA, \"JR\" \\ "
            "/emailAddress=jose@example.com",
            "20260315083000Z", "20270315083000Z", nullptr, nullptr,
            { { "subject",
                  R"(1.2.840.113549.1.9.1=#16106a6f7365406578616d706c652e636f6d,)"
                  R"(CN=\#JOS)"
                  "\xC3\x89"
                  R"( D')"
                  "\xC3\x81"
                  R"(VILA\, \"JR\" \\\ ,OU=A3+OU=Secretaria,)"
                  "O=A\xC3\xA7\xC3\xBA"
                  R"(car \<Doce\>\; Cia,C=BR)" },
                { "serialNumber", "04" }, { "notBefore", "2026-03-15T08:30:00Z" },
                { "notAfter", "2027-03-15T08:30:00Z" } } },
        // Values that their string types do not allow (an underscore in a
        // PrintableString, a Latin-1 letter in an IA5String, a letter in a
        // NumericString) are written with their own bytes; a NUL inside a
        // name cuts nothing.
        { 5,
            "/CN=GOOD NAME\0EVIL/serialNumber#19=ABC_123/emailAddress#22=jos\xE9@example.com/x121Address#18=12A4"s,
            "20260401000000Z", "20270401000000Z", nullptr, nullptr,
            { { "subject",
                  "2.5.4.24=#120431324134,1.2.840.113549.1.9.1=#16106a6f73e9406578616d706c652e636f6d,"
                  "2.5.4.5=#13074142435f313233,CN=GOOD NAME\\00EVIL" },
                { "serialNumber", "05" }, { "notBefore", "2026-04-01T00:00:00Z" },
                { "notAfter", "2027-04-01T00:00:00Z" } } },
    };
    static const std::vector<IssuedCertificate> certificates = [] {
        std::vector<IssuedCertificate> made;
        for (const Profile& profile : profiles) {
            Json record = profile.record;
            record.update({ { "decodable", true }, { "issuer", "CN=AC Teste sigbrid,O=ICP-Brasil,C=BR" } });
            made.push_back({ issue(profile), record });
        }
        return made;
    }();
    return certificates;
}

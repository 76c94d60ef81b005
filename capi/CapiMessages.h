// Every text that the CryptoAPI operations answer or raise, in the order in
// which their steps run.
#pragma once

inline constexpr const char* kUnexpectedError = "Unexpected error";

// Last Windows error codes with a text of their own.
inline constexpr const char* kKeysetNotDefinedText = "Erro ao obter chave privada.";
inline constexpr const char* kNoKeyText = "A chave n\xc3\xa3o existe";
inline constexpr const char* kErrorCodePrefix = "Err ";

// Certificate signing.
inline constexpr const char* kCertOpenStoreFailed = "Err CertOpenStore";
inline constexpr const char* kCertificateNotFound = "Err CertFindCertificateInStore";
inline constexpr const char* kKeyProviderInfoSizeFailed = "Err CertGetCertificateContextProperty";
inline constexpr const char* kKeyProviderInfoAllocationFailed = "Error in allocation of memory.";
inline constexpr const char* kKeyProviderInfoNotRetrieved = "The property was not retrieved.";
inline constexpr const char* kKnownProviderAcquireFailed = "Err CryptAcquireContext1";
inline constexpr const char* kSoftwareProviderAcquireFailed = "Err CryptAcquireContext2";
inline constexpr const char* kKeysetNotFoundInfix = " - conjunto de chave nao encontrada =";
inline constexpr const char* kCreateHashSha1Failed = "(CryptCreateHash SHA1)";
inline constexpr const char* kCreateHashSha256Failed = "(CryptCreateHash SHA256)";
inline constexpr const char* kCreateHashSha512Failed = "(CryptCreateHash SHA512)";
// A ready digest must be exactly as long as the algorithm's digest.
inline constexpr const char* kDigestLengthMismatch = "Tamanho do hash nao condiz com algoritmo utilizado";
inline constexpr const char* kSetHashParamFailed = "Err CryptSetHashParam";
inline constexpr const char* kHashDataFailed = "Err CryptHashData";
inline constexpr const char* kSignHashFailed = "Err CryptSignHash";

// Provider enumeration.
inline constexpr const char* kListCspsNoMemory = "listCSPs - Insufficient Memory";
inline constexpr const char* kListCspsEnumFailed = "listCSPs - CryptEnumProviders";
inline constexpr const char* kContainersProviderNameNull = "countContainers - providerName is null";
inline constexpr const char* kContainersAcquireFailed = "countContainers - CryptAcquireContext. providerName:";
inline constexpr const char* kContainersFirstFailed
    = "countContainers - CryptGetProvParam (CRYPT_FIRST). providerName:";
inline constexpr const char* kProviderTypeInfix = " - providerType:";

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
// Keys in a key storage provider (key link with provider type 0); the status
// follows each, and the missing key is spelled out as above.
inline constexpr const char* kSigningStorageProviderFailed = "Err NCryptOpenStorageProvider";
inline constexpr const char* kSigningOpenKeyFailed = "Err NCryptOpenKey";
inline constexpr const char* kHashContextFailed = "Err CryptAcquireContext (CRYPT_VERIFYCONTEXT)";
inline constexpr const char* kHashValueFailed = "Err CryptGetHashParam";
inline constexpr const char* kSignDigestFailed = "Err NCryptSignHash";

// Provider enumeration.
inline constexpr const char* kListCspsNoMemory = "listCSPs - Insufficient Memory";
inline constexpr const char* kListCspsEnumFailed = "listCSPs - CryptEnumProviders";
inline constexpr const char* kContainersProviderNameNull = "countContainers - providerName is null";
inline constexpr const char* kContainersAcquireFailed = "countContainers - CryptAcquireContext. providerName:";
inline constexpr const char* kContainersFirstFailed
    = "countContainers - CryptGetProvParam (CRYPT_FIRST). providerName:";
inline constexpr const char* kProviderTypeInfix = " - providerType:";
inline constexpr const char* kContainersStorageProviderFailed
    = "countContainers - NCryptOpenStorageProvider. providerName:";
inline constexpr const char* kContainersEnumKeysFailed = "countContainers - NCryptEnumKeys. providerName:";
inline constexpr const char* kStatusInfix = " - ";
inline constexpr const char* kListKspsEnumFailed = "listKSPs - NCryptEnumStorageProviders - ";

// Key pair.
inline constexpr const char* kKeyPairProviderNameNull = "createKeyPair - providerName is null";
inline constexpr const char* kKeyPairContainerNameNull = "createKeyPair - containerName is null";
inline constexpr const char* kKeyPairAcquireFailed = "createKeyPair - CryptAcquireContext";
inline constexpr const char* kKeyPairGenKeyFailed = "createKeyPair - CryptGenKey";
inline constexpr const char* kKeyPairGetUserKeyFailed = "createKeyPair - CryptGetUserKey";
inline constexpr const char* kKeyPairExportFailed = "createKeyPair - CryptExportKey";
inline constexpr const char* kKeyPairNoMemory = "createKeyPair - Insufficient Memory";
inline constexpr const char* kKeyPairBase64Failed
    = "createKeyPair - Error encoding publicKey into base64: publicKeyBlob:";
inline constexpr const char* kKeyPairBase64FailedInfix = " - b64PubKey:";
inline constexpr const char* kKeyPairInvalidBlob = "createKeyPair - Invalid public key blob";
inline constexpr const char* kKeyPairInvalidKeyType = "createKeyPair - Invalid public key type";
inline constexpr const char* kKeyPairStorageProviderFailed = "createKeyPair - NCryptOpenStorageProvider - ";
inline constexpr const char* kKeyPairOpenKeyFailed = "createKeyPair - NCryptOpenKey - ";
inline constexpr const char* kKeyPairCreateKeyFailed = "createKeyPair - NCryptCreatePersistedKey - ";
inline constexpr const char* kKeyPairSetPropertyFailed = "createKeyPair - NCryptSetProperty - ";
inline constexpr const char* kKeyPairFinalizeFailed = "createKeyPair - NCryptFinalizeKey - ";
inline constexpr const char* kKeyPairExportKeyFailed = "createKeyPair - NCryptExportKey - ";

// Certificate request.
inline constexpr const char* kRequestSubjectNull = "generateCSR - DN is null";
inline constexpr const char* kRequestProviderNameNull = "generateCSR - Provider name is null";
inline constexpr const char* kRequestContainerNameNull = "generateCSR - Container name is null";
inline constexpr const char* kRequestNameFirstFailed
    = "generateCSR The first call to CryptEncodeObject failed. A public/private key pair may not exit in the "
      "container.";
inline constexpr const char* kRequestNameNoMemory = "generateCSR The pbNamencoded malloc operation failed.";
inline constexpr const char* kRequestNameSecondFailed = "generateCSR The second call to CryptEncodeObject failed.";
inline constexpr const char* kRequestKnownAcquireFailed = "generateCSR CryptAcquireContext failed 1.";
inline constexpr const char* kRequestSoftwareAcquireFailed = "generateCSR CryptAcquireContext failed 2.";
inline constexpr const char* kRequestStorageProviderFailed = "generateCSR NCryptOpenStorageProvider failed - ";
inline constexpr const char* kRequestOpenKeyFailed = "generateCSR NCryptOpenKey failed - ";
inline constexpr const char* kRequestKeyInfoFirstFailed
    = "generateCSR The first call to CryptExportPublickKeyInfo failed.  The probable cause is that  There is no "
      "key pair in the key container.";
inline constexpr const char* kRequestKeyInfoNoMemory = "generateCSR Memory allocation failed.";
inline constexpr const char* kRequestKeyInfoSecondFailed
    = "generateCSR The second call to CryptExportPublicKeyInfo failed.";
inline constexpr const char* kRequestSignFirstFailed = "generateCSR First call to CryptSignandEncode failed.";
inline constexpr const char* kRequestSignNoMemory = "generateCSR The malloc operation failed.";
inline constexpr const char* kRequestSignSecondFailed = "generateCSR The second call to CryptSignAndEncode failed.";

// Certificate installation.
inline constexpr const char* kInstallProviderNameNull = "acceptPKCS7 - Provider name is null";
inline constexpr const char* kInstallContainerNameNull = "acceptPKCS7 - Container name is null";
inline constexpr const char* kInstallCertificateNull = "acceptPKCS7 - PKCS#7 data is null";
inline constexpr const char* kInstallOpenStoreFailed = "acceptPKCS7 - CertOpenStore";
inline constexpr const char* kInstallCreateContextFailed = "acceptPKCS7 - CertCreateCertificateContext";
inline constexpr const char* kInstallWideContainerFailed = "acceptPKCS7 - MultiByteToWideChar - w_container";
inline constexpr const char* kInstallWideProviderCountFailed = "acceptPKCS7 - MultiByteToWideChar - w_provider";
inline constexpr const char* kInstallWideProviderFailed = "acceptPKCS7 - Insufficient Memory - w_provider";
inline constexpr const char* kInstallAddFailed = "acceptPKCS7 - CertAddCertificateContextToStore";
inline constexpr const char* kInstallSetPropertyFailed = "acceptPKCS7 - CertSetCertificateContextProperty";
inline constexpr const char* kInstallAcquireFailed
    = "acceptPKCS7 - Erro recuperando Contexto criptografico. Valide o nome do container e o Provider";
inline constexpr const char* kInstallGetUserKeyFailed = "acceptPKCS7 - CryptGetUserKey";
inline constexpr const char* kInstallSetKeyParamFailed = "acceptPKCS7 - Operacao cancelada ou token bloqueado";
inline constexpr const char* kInstallAnswer = "{\"result\":\"ok\"}";

// Every text that the token road answers or writes into a record.
#pragma once

inline constexpr const char* kLoadFileMissing = "Erro ao inicializar biblioteca fileExists";
inline constexpr const char* kLoadLibraryFailed = "Erro ao inicializar biblioteca LoadLibrary";
inline constexpr const char* kMissingFunction = "Funcao PKCS#11 ausente no modulo: ";
inline constexpr const char* kNoSessionOpen = "NO SESSION OPEN";
inline constexpr const char* kCallBudgetExceeded = "Limite de chamadas ao modulo PKCS#11 excedido";

inline constexpr const char* kLoginPinIncorrect = "Erro no Login - Pin incorreto";
inline constexpr const char* kLoginPinInvalid = "Erro no Login - Pin invalido";
inline constexpr const char* kLoginPinLenRange = "Erro no Login - Tamanho do Pin invalido";
inline constexpr const char* kLoginPinExpired = "Erro no Login - Pin expirado";
inline constexpr const char* kLoginPinLocked = "Erro no Login - Pin bloqueado";
inline constexpr const char* kLoginArgumentsBad = "Erro no Login - Argumentos invalidos";
inline constexpr const char* kLoginGeneric = "Erro no Login - Erro Generico";

inline constexpr const char* kManufacturerIdError = "[ERROR] P11Store.getManufacturerId - C_GetSlotInfo, rv: ";
inline constexpr const char* kDescriptionError = "[ERROR] P11Store.description - C_GetSlotInfo, rv: ";
inline constexpr const char* kLabelError = "[ERROR] P11Store.label - C_GetTokenInfo, rv: ";
inline constexpr const char* kModelError = "[ERROR] P11Store.model - C_GetTokenInfo, rv: ";
inline constexpr const char* kSerialError = "[ERROR] P11Store.serial - C_GetTokenInfo, rv: ";

inline constexpr const char* kDigestSizeMismatch = "Tamanho data nao condiz com algoritmo utilizado";
inline constexpr const char* kNoCertificateForThumbprint = "Nenhum certificado encontrado com o thumbprint enviado";
inline constexpr const char* kNoPrivateKey = "Nenhuma chave privada encontrada para o certificado";
inline constexpr const char* kDigestFailed = "Erro no calculo do hash dos dados";
inline constexpr const char* kSignFailed = "Erro na assinatura: ";
inline constexpr const char* kNoRoomForKeyPair
    = "Token nao possui espaco suficiente para criacao de chave e posterior importacao de certificado";
inline constexpr const char* kKeyPairFailed = "Erro na geracao do par de chaves: ";
inline constexpr const char* kPublicKeyReadFailed = "Erro na leitura da chave publica: ";
inline constexpr const char* kCertificateImported = "certificado adicionado com sucesso: ";
inline constexpr const char* kCertificateImportFailed = "Erro na importação do certificado: ";
inline constexpr const char* kCertificateImportRefused = "Erro na importação do certificado: Certificado inválido";

// The reason words of a failed token operation; other codes are written in decimal.
inline constexpr const char* kDeviceError = "Erro no dispositivo";
inline constexpr const char* kDeviceMemory = "Dispositivo sem memória";
inline constexpr const char* kDeviceRemoved = "Dispositivo removido";
// A public key whose modulus the module answers without a usable length.
inline constexpr const char* kModulusUnavailable = "modulo indisponivel";

// `system info modules`: a library that refused C_Initialize, with its code in decimal.
inline constexpr const char* kInitializeFailed = "Erro ao inicializar biblioteca C_Initialize: ";

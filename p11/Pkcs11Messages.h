// Every text that the token road answers or writes into a record.
#pragma once

inline constexpr const char* kLoadFileMissing = "Erro ao inicializar biblioteca fileExists";
inline constexpr const char* kLoadLibraryFailed = "Erro ao inicializar biblioteca LoadLibrary";
inline constexpr const char* kMissingFunction = "Funcao PKCS#11 ausente no modulo: ";
inline constexpr const char* kNoSessionOpen = "NO SESSION OPEN";

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

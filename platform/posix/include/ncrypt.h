// Linux stand-in for the part of <ncrypt.h> that sigbrid uses: CNG key
// storage providers and their persisted keys, implemented on OpenSSL with the
// keys in the emulated machine's directory. Types and values agree with
// mingw-w64.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <bcrypt.h>

typedef LONG SECURITY_STATUS;
typedef ULONG_PTR NCRYPT_HANDLE;
typedef ULONG_PTR NCRYPT_PROV_HANDLE;
typedef ULONG_PTR NCRYPT_KEY_HANDLE;
typedef BCryptBufferDesc NCryptBufferDesc;

#define MS_KEY_STORAGE_PROVIDER L"Microsoft Software Key Storage Provider"
#define MS_SMART_CARD_KEY_STORAGE_PROVIDER L"Microsoft Smart Card Key Storage Provider"

#define NCRYPT_RSA_ALGORITHM BCRYPT_RSA_ALGORITHM

#define NCRYPT_MACHINE_KEY_FLAG 0x20
#define NCRYPT_SILENT_FLAG 0x40
#define NCRYPT_OVERWRITE_KEY_FLAG 0x80
#define NCRYPT_PAD_PKCS1_FLAG 0x2

#define NCRYPT_LENGTH_PROPERTY L"Length"
#define NCRYPT_EXPORT_POLICY_PROPERTY L"Export Policy"
#define NCRYPT_ALLOW_EXPORT_FLAG 0x1
#define NCRYPT_ALLOW_PLAINTEXT_EXPORT_FLAG 0x2

typedef struct NCryptKeyName {
    LPWSTR pszName;
    LPWSTR pszAlgid;
    DWORD dwLegacyKeySpec;
    DWORD dwFlags;
} NCryptKeyName;

typedef struct NCryptProviderName {
    LPWSTR pszName;
    LPWSTR pszComment;
} NCryptProviderName;

// The stand-in's providers: the two of Windows above. The status is the
// answer; ERROR_SUCCESS (0) is success.
SECURITY_STATUS WINAPI NCryptOpenStorageProvider(NCRYPT_PROV_HANDLE* phProvider, LPCWSTR pszProviderName,
                                                 DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptEnumStorageProviders(DWORD* pdwProviderCount, NCryptProviderName** ppProviderList,
                                                  DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptEnumKeys(NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszScope, NCryptKeyName** ppKeyName,
                                      PVOID* ppEnumState, DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptFreeBuffer(PVOID pvInput);
SECURITY_STATUS WINAPI NCryptOpenKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE* phKey, LPCWSTR pszKeyName,
                                     DWORD dwLegacyKeySpec, DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptCreatePersistedKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE* phKey,
                                                LPCWSTR pszAlgId, LPCWSTR pszKeyName, DWORD dwLegacyKeySpec,
                                                DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptSetProperty(NCRYPT_HANDLE hObject, LPCWSTR pszProperty, PBYTE pbInput, DWORD cbInput,
                                         DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptFinalizeKey(NCRYPT_KEY_HANDLE hKey, DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptExportKey(NCRYPT_KEY_HANDLE hKey, NCRYPT_KEY_HANDLE hExportKey, LPCWSTR pszBlobType,
                                       NCryptBufferDesc* pParameterList, PBYTE pbOutput, DWORD cbOutput,
                                       DWORD* pcbResult, DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptSignHash(NCRYPT_KEY_HANDLE hKey, void* pPaddingInfo, PBYTE pbHashValue,
                                      DWORD cbHashValue, PBYTE pbSignature, DWORD cbSignature, DWORD* pcbResult,
                                      DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptDeleteKey(NCRYPT_KEY_HANDLE hKey, DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptFreeObject(NCRYPT_HANDLE hObject);
BOOL WINAPI NCryptIsKeyHandle(NCRYPT_KEY_HANDLE hKey);

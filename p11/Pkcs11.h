// The PKCS#11 types, constants and function signatures that sigbrid uses.
// On Windows the standard's ABI for that platform: CK_ULONG of 32 bits,
// structures packed to 1 byte, cdecl. Elsewhere the platform's own ABI
// (CK_ULONG is unsigned long), so that the system's modules load as they are.
#pragma once

#ifdef _WIN32
#define CK_CALL __cdecl
#pragma pack(push, 1)
#else
#define CK_CALL
#endif

extern "C" {

typedef unsigned char CK_BYTE;
typedef CK_BYTE CK_CHAR;
typedef CK_BYTE CK_UTF8CHAR;
typedef CK_BYTE CK_BBOOL;
typedef unsigned long CK_ULONG;
typedef CK_ULONG CK_FLAGS;
typedef CK_ULONG CK_RV;
typedef CK_ULONG CK_SLOT_ID;
typedef CK_ULONG CK_SESSION_HANDLE;
typedef CK_ULONG CK_OBJECT_HANDLE;
typedef CK_ULONG CK_OBJECT_CLASS;
typedef CK_ULONG CK_USER_TYPE;
typedef CK_ULONG CK_ATTRIBUTE_TYPE;
typedef CK_ULONG CK_MECHANISM_TYPE;
typedef CK_ULONG CK_CERTIFICATE_TYPE;
typedef void* CK_VOID_PTR;
typedef CK_ULONG* CK_ULONG_PTR;

struct CK_VERSION {
    CK_BYTE major;
    CK_BYTE minor;
};

// The library's own description, which only `system info modules` reads.
struct CK_INFO {
    CK_VERSION cryptokiVersion;
    CK_UTF8CHAR manufacturerID[32];
    CK_FLAGS flags;
    CK_UTF8CHAR libraryDescription[32];
    CK_VERSION libraryVersion;
};

struct CK_SLOT_INFO {
    CK_UTF8CHAR slotDescription[64];
    CK_UTF8CHAR manufacturerID[32];
    CK_FLAGS flags;
    CK_VERSION hardwareVersion;
    CK_VERSION firmwareVersion;
};

struct CK_TOKEN_INFO {
    CK_UTF8CHAR label[32];
    CK_UTF8CHAR manufacturerID[32];
    CK_UTF8CHAR model[16];
    CK_CHAR serialNumber[16];
    CK_FLAGS flags;
    CK_ULONG ulMaxSessionCount;
    CK_ULONG ulSessionCount;
    CK_ULONG ulMaxRwSessionCount;
    CK_ULONG ulRwSessionCount;
    CK_ULONG ulMaxPinLen;
    CK_ULONG ulMinPinLen;
    CK_ULONG ulTotalPublicMemory;
    CK_ULONG ulFreePublicMemory;
    CK_ULONG ulTotalPrivateMemory;
    CK_ULONG ulFreePrivateMemory;
    CK_VERSION hardwareVersion;
    CK_VERSION firmwareVersion;
    CK_CHAR utcTime[16];
};

struct CK_ATTRIBUTE {
    CK_ATTRIBUTE_TYPE type;
    CK_VOID_PTR pValue;
    CK_ULONG ulValueLen;
};

struct CK_MECHANISM {
    CK_MECHANISM_TYPE mechanism;
    CK_VOID_PTR pParameter;
    CK_ULONG ulParameterLen;
};

struct CK_MECHANISM_INFO {
    CK_ULONG ulMinKeySize;
    CK_ULONG ulMaxKeySize;
    CK_FLAGS flags;
};

typedef CK_RV(CK_CALL* CK_C_Initialize)(CK_VOID_PTR pInitArgs);
typedef CK_RV(CK_CALL* CK_C_Finalize)(CK_VOID_PTR pReserved);
typedef CK_RV(CK_CALL* CK_C_GetInfo)(CK_INFO* pInfo);
typedef CK_RV(CK_CALL* CK_C_GetSlotList)(CK_BBOOL tokenPresent, CK_SLOT_ID* pSlotList, CK_ULONG_PTR pulCount);
typedef CK_RV(CK_CALL* CK_C_GetSlotInfo)(CK_SLOT_ID slotID, CK_SLOT_INFO* pInfo);
typedef CK_RV(CK_CALL* CK_C_GetTokenInfo)(CK_SLOT_ID slotID, CK_TOKEN_INFO* pInfo);
typedef CK_RV(CK_CALL* CK_C_GetMechanismList)(CK_SLOT_ID slotID, CK_MECHANISM_TYPE* pMechanismList,
                                              CK_ULONG_PTR pulCount);
typedef CK_RV(CK_CALL* CK_C_GetMechanismInfo)(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* pInfo);
typedef CK_RV(CK_CALL* CK_C_OpenSession)(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication,
                                         CK_VOID_PTR notify, CK_SESSION_HANDLE* phSession);
typedef CK_RV(CK_CALL* CK_C_CloseSession)(CK_SESSION_HANDLE hSession);
typedef CK_RV(CK_CALL* CK_C_Login)(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR* pPin,
                                   CK_ULONG ulPinLen);
typedef CK_RV(CK_CALL* CK_C_Logout)(CK_SESSION_HANDLE hSession);
typedef CK_RV(CK_CALL* CK_C_FindObjectsInit)(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount);
typedef CK_RV(CK_CALL* CK_C_FindObjects)(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE* phObject,
                                         CK_ULONG ulMaxObjectCount, CK_ULONG_PTR pulObjectCount);
typedef CK_RV(CK_CALL* CK_C_FindObjectsFinal)(CK_SESSION_HANDLE hSession);
typedef CK_RV(CK_CALL* CK_C_GetAttributeValue)(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                               CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount);
typedef CK_RV(CK_CALL* CK_C_SignInit)(CK_SESSION_HANDLE hSession, CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey);
typedef CK_RV(CK_CALL* CK_C_Sign)(CK_SESSION_HANDLE hSession, CK_BYTE* pData, CK_ULONG ulDataLen, CK_BYTE* pSignature,
                                  CK_ULONG_PTR pulSignatureLen);
typedef CK_RV(CK_CALL* CK_C_GenerateKeyPair)(CK_SESSION_HANDLE hSession, CK_MECHANISM* pMechanism,
                                             CK_ATTRIBUTE* pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                                             CK_ATTRIBUTE* pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                                             CK_OBJECT_HANDLE* phPublicKey, CK_OBJECT_HANDLE* phPrivateKey);
typedef CK_RV(CK_CALL* CK_C_CreateObject)(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount,
                                          CK_OBJECT_HANDLE* phObject);

}  // extern "C"

#ifdef _WIN32
#pragma pack(pop)
#endif

#define CK_TRUE 1
#define CK_FALSE 0
#define NULL_PTR nullptr
#define CK_UNAVAILABLE_INFORMATION (~0UL)
#define CK_EFFECTIVELY_INFINITE 0UL

#define CKR_OK 0x00000000UL
#define CKR_SLOT_ID_INVALID 0x00000003UL
#define CKR_GENERAL_ERROR 0x00000005UL
#define CKR_ARGUMENTS_BAD 0x00000007UL
#define CKR_DEVICE_ERROR 0x00000030UL
#define CKR_DEVICE_MEMORY 0x00000031UL
#define CKR_DEVICE_REMOVED 0x00000032UL
#define CKR_FUNCTION_NOT_SUPPORTED 0x00000054UL
#define CKR_PIN_INCORRECT 0x000000A0UL
#define CKR_PIN_INVALID 0x000000A1UL
#define CKR_PIN_LEN_RANGE 0x000000A2UL
#define CKR_PIN_EXPIRED 0x000000A3UL
#define CKR_PIN_LOCKED 0x000000A4UL
#define CKR_SESSION_HANDLE_INVALID 0x000000B3UL
#define CKR_TEMPLATE_INCONSISTENT 0x000000D1UL
#define CKR_USER_ALREADY_LOGGED_IN 0x00000100UL
#define CKR_USER_NOT_LOGGED_IN 0x00000101UL
#define CKR_BUFFER_TOO_SMALL 0x00000150UL
#define CKR_CRYPTOKI_NOT_INITIALIZED 0x00000190UL
#define CKR_CRYPTOKI_ALREADY_INITIALIZED 0x00000191UL

#define CKF_RW_SESSION 0x00000002UL
#define CKF_SERIAL_SESSION 0x00000004UL

#define CKF_WRITE_PROTECTED 0x00000002UL
#define CKF_LOGIN_REQUIRED 0x00000004UL
#define CKF_USER_PIN_INITIALIZED 0x00000008UL
#define CKF_PROTECTED_AUTHENTICATION_PATH 0x00000100UL
#define CKF_TOKEN_INITIALIZED 0x00000400UL
#define CKF_USER_PIN_COUNT_LOW 0x00010000UL
#define CKF_USER_PIN_FINAL_TRY 0x00020000UL
#define CKF_USER_PIN_LOCKED 0x00040000UL
#define CKF_USER_PIN_TO_BE_CHANGED 0x00080000UL
#define CKF_SO_PIN_LOCKED 0x00400000UL

#define CKU_USER 1UL

#define CKO_CERTIFICATE 0x00000001UL
#define CKO_PUBLIC_KEY 0x00000002UL
#define CKO_PRIVATE_KEY 0x00000003UL

#define CKC_X_509 0x00000000UL

#define CKA_CLASS 0x00000000UL
#define CKA_TOKEN 0x00000001UL
#define CKA_PRIVATE 0x00000002UL
#define CKA_LABEL 0x00000003UL
#define CKA_VALUE 0x00000011UL
#define CKA_CERTIFICATE_TYPE 0x00000080UL
#define CKA_ISSUER 0x00000081UL
#define CKA_SERIAL_NUMBER 0x00000082UL
#define CKA_SUBJECT 0x00000101UL
#define CKA_ID 0x00000102UL
#define CKA_SENSITIVE 0x00000103UL
#define CKA_ENCRYPT 0x00000104UL
#define CKA_DECRYPT 0x00000105UL
#define CKA_WRAP 0x00000106UL
#define CKA_UNWRAP 0x00000107UL
#define CKA_SIGN 0x00000108UL
#define CKA_VERIFY 0x0000010AUL
#define CKA_MODULUS 0x00000120UL
#define CKA_MODULUS_BITS 0x00000121UL
#define CKA_PUBLIC_EXPONENT 0x00000122UL
#define CKA_MODIFIABLE 0x00000170UL

#define CKM_RSA_PKCS_KEY_PAIR_GEN 0x00000000UL
#define CKM_RSA_PKCS 0x00000001UL
#define CKM_SHA1_RSA_PKCS 0x00000006UL
#define CKM_SHA256_RSA_PKCS 0x00000040UL
#define CKM_SHA512_RSA_PKCS 0x00000042UL

// The layout of the PKCS#11 structures, proven while compiling: a module
// reads and writes these bytes, so a wrong packing or CK_ULONG width must not
// build. The figures are worked out from the standard's structure definitions:
// on Windows 1-byte packing and a 4-byte CK_ULONG (unsigned long is 32 bits
// on both Windows ABIs; only the pointer differs), elsewhere the LP64 platform
// ABI with its natural alignment and an 8-byte CK_ULONG.
#include <cstddef>
#include <type_traits>

#include "Pkcs11.h"

#if defined(_WIN64)
#define ABI(win32, win64, lp64) win64
#elif defined(_WIN32)
#define ABI(win32, win64, lp64) win32
#elif defined(__LP64__)
#define ABI(win32, win64, lp64) lp64
#else
#error "no PKCS#11 layout figures for this platform"
#endif

#define SIZE(type, ...) static_assert(sizeof(type) == ABI(__VA_ARGS__), "size of " #type)
#define OFFSET(type, field, ...) \
    static_assert(offsetof(type, field) == ABI(__VA_ARGS__), "offset of " #type "::" #field)

//                                              win32 win64 lp64
SIZE(CK_ULONG,                                      4,    4,   8);
SIZE(CK_VOID_PTR,                                   4,    8,   8);

SIZE(CK_VERSION,                                    2,    2,   2);
OFFSET(CK_VERSION, major,                           0,    0,   0);
OFFSET(CK_VERSION, minor,                           1,    1,   1);

SIZE(CK_INFO,                                      72,   72,  88);
OFFSET(CK_INFO, cryptokiVersion,                    0,    0,   0);
OFFSET(CK_INFO, manufacturerID,                     2,    2,   2);
OFFSET(CK_INFO, flags,                             34,   34,  40);
OFFSET(CK_INFO, libraryDescription,                38,   38,  48);
OFFSET(CK_INFO, libraryVersion,                    70,   70,  80);

SIZE(CK_SLOT_INFO,                                104,  104, 112);
OFFSET(CK_SLOT_INFO, slotDescription,               0,    0,   0);
OFFSET(CK_SLOT_INFO, manufacturerID,               64,   64,  64);
OFFSET(CK_SLOT_INFO, flags,                        96,   96,  96);
OFFSET(CK_SLOT_INFO, hardwareVersion,             100,  100, 104);
OFFSET(CK_SLOT_INFO, firmwareVersion,             102,  102, 106);

SIZE(CK_TOKEN_INFO,                               160,  160, 208);
OFFSET(CK_TOKEN_INFO, label,                        0,    0,   0);
OFFSET(CK_TOKEN_INFO, manufacturerID,              32,   32,  32);
OFFSET(CK_TOKEN_INFO, model,                       64,   64,  64);
OFFSET(CK_TOKEN_INFO, serialNumber,                80,   80,  80);
OFFSET(CK_TOKEN_INFO, flags,                       96,   96,  96);
OFFSET(CK_TOKEN_INFO, ulMaxSessionCount,          100,  100, 104);
OFFSET(CK_TOKEN_INFO, ulSessionCount,             104,  104, 112);
OFFSET(CK_TOKEN_INFO, ulMaxRwSessionCount,        108,  108, 120);
OFFSET(CK_TOKEN_INFO, ulRwSessionCount,           112,  112, 128);
OFFSET(CK_TOKEN_INFO, ulMaxPinLen,                116,  116, 136);
OFFSET(CK_TOKEN_INFO, ulMinPinLen,                120,  120, 144);
OFFSET(CK_TOKEN_INFO, ulTotalPublicMemory,        124,  124, 152);
OFFSET(CK_TOKEN_INFO, ulFreePublicMemory,         128,  128, 160);
OFFSET(CK_TOKEN_INFO, ulTotalPrivateMemory,       132,  132, 168);
OFFSET(CK_TOKEN_INFO, ulFreePrivateMemory,        136,  136, 176);
OFFSET(CK_TOKEN_INFO, hardwareVersion,            140,  140, 184);
OFFSET(CK_TOKEN_INFO, firmwareVersion,            142,  142, 186);
OFFSET(CK_TOKEN_INFO, utcTime,                    144,  144, 188);

SIZE(CK_ATTRIBUTE,                                 12,   16,  24);
OFFSET(CK_ATTRIBUTE, type,                          0,    0,   0);
OFFSET(CK_ATTRIBUTE, pValue,                        4,    4,   8);
OFFSET(CK_ATTRIBUTE, ulValueLen,                    8,   12,  16);

SIZE(CK_MECHANISM,                                 12,   16,  24);
OFFSET(CK_MECHANISM, mechanism,                     0,    0,   0);
OFFSET(CK_MECHANISM, pParameter,                    4,    4,   8);
OFFSET(CK_MECHANISM, ulParameterLen,                8,   12,  16);

SIZE(CK_MECHANISM_INFO,                            12,   12,  24);
OFFSET(CK_MECHANISM_INFO, ulMaxKeySize,             4,    4,   8);
OFFSET(CK_MECHANISM_INFO, flags,                    8,    8,  16);

// On 32-bit Windows cdecl and stdcall are different function types (the
// caller or the callee removes the arguments); every module function is
// cdecl. The other platforms have a single convention.
#if defined(_WIN32) && !defined(_WIN64)
template <typename F> struct IsCdecl : std::false_type {};
template <typename R, typename... A> struct IsCdecl<R(__cdecl*)(A...)> : std::true_type {};
#define CDECL(function) static_assert(IsCdecl<function>::value, #function " is not cdecl")
CDECL(CK_C_Initialize);
CDECL(CK_C_Finalize);
CDECL(CK_C_GetSlotList);
CDECL(CK_C_GetSlotInfo);
CDECL(CK_C_GetTokenInfo);
CDECL(CK_C_GetMechanismList);
CDECL(CK_C_GetMechanismInfo);
CDECL(CK_C_OpenSession);
CDECL(CK_C_CloseSession);
CDECL(CK_C_Login);
CDECL(CK_C_Logout);
CDECL(CK_C_FindObjectsInit);
CDECL(CK_C_FindObjects);
CDECL(CK_C_FindObjectsFinal);
CDECL(CK_C_GetAttributeValue);
CDECL(CK_C_SignInit);
CDECL(CK_C_Sign);
CDECL(CK_C_GenerateKeyPair);
CDECL(CK_C_CreateObject);
#endif

// What a test tells the mock module to be: its slots, tokens, objects, the
// return code of each call, and the ways it lies about lengths and counts.
// The format is described in README.md beside this file.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Pkcs11.h"

namespace p11mock {

using Bytes = std::vector<unsigned char>;

// A length that a lying module reports instead of the true one.
using ReportedLength = std::optional<CK_ULONG>;

struct Attribute {
    Bytes value;
    ReportedLength nullLength; // answered when asked with pValue NULL
    ReportedLength filledLength; // answered after filling a buffer
};

struct Object {
    CK_OBJECT_HANDLE handle = 0;
    bool visibleOnlyAfterLogin = false;
    std::map<CK_ATTRIBUTE_TYPE, Attribute> attributes;
};

// A fixed-width field: its bytes, cut or filled up to the width.
struct Field {
    Bytes bytes;
    unsigned char fill = ' ';
};

struct Token {
    Field label, manufacturerId, model, serialNumber;
    CK_ULONG freePublicMemory = 0;
    CK_ULONG freePrivateMemory = 0;
};

struct Slot {
    CK_SLOT_ID id = 0;
    bool tokenPresent = true;
    Field slotDescription, manufacturerId;
    Token token;
    std::vector<Object> objects;
};

// The return code of one function: a default, and codes for given call numbers
// (counted from 1 over the whole process).
struct ReturnCodes {
    CK_RV fallback = CKR_OK;
    std::map<unsigned long, CK_RV> byCall;

    CK_RV forCall(unsigned long number) const
    {
        const auto found = byCall.find(number);
        return found == byCall.end() ? fallback : found->second;
    }
};

struct Script {
    std::vector<Slot> slots;
    std::map<std::string, ReturnCodes> returnCodes; // by function name

    ReportedLength slotListFirstCount, slotListSecondCount;

    std::vector<CK_SESSION_HANDLE> sessionHandles; // handed out in order, then counting on

    std::optional<CK_ULONG> findCountWhileFound; // reported instead of the true count > 0
    std::optional<CK_ULONG> findCountOnFailure; // written when C_FindObjects fails
    bool findEndless = false; // every C_FindObjects hands out one more object, with no call limit

    Attribute signature;

    CK_OBJECT_HANDLE generatedPublicKey = 0x100, generatedPrivateKey = 0x101;
    CK_OBJECT_HANDLE createdObject = 0x200;

    CK_RV returnCode(const std::string& function, unsigned long callNumber) const
    {
        const auto found = returnCodes.find(function);
        return found == returnCodes.end() ? CKR_OK : found->second.forCall(callNumber);
    }
};

// The script of the module whose file is named `moduleName`: the whole file,
// or its entry under "modules" when it has one. Throws on a malformed script.
Script loadScript(const std::string& path, const std::string& moduleName);

// Attribute names as the log writes them ("CKA_ID"), or 0x-hex when unknown.
std::string attributeName(CK_ATTRIBUTE_TYPE type);

// Attributes whose value is one CK_ULONG.
bool holdsUlong(CK_ATTRIBUTE_TYPE type);

} // namespace p11mock

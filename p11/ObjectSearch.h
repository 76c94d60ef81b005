// Object search and attribute reads inside an open session. Module failures
// are not reported here: a failed search finds fewer objects, a failed read
// gives an empty value. Whatever length or count the module reports, nothing
// is read or written outside the buffers handed to it.
#pragma once

#include <string>
#include <vector>

#include "Encoding.h"
#include "P11Session.h"

using ObjectHandles = std::vector<CK_OBJECT_HANDLE>;

// Every object matching the template, in the module's order.
ObjectHandles findObjects(const P11Session& session, std::vector<CK_ATTRIBUTE> searchTemplate);
ObjectHandles findByClass(const P11Session& session, CK_OBJECT_CLASS objectClass);
// The objects whose CKA_ID is the base64-decoded `idText`.
ObjectHandles findById(const P11Session& session, const std::string& idText);
// The first object of that class with exactly these CKA_ID bytes, or 0.
CK_OBJECT_HANDLE findKeyById(const P11Session& session, CK_OBJECT_CLASS objectClass, const Bytes& id);

// What a two-call read got: the value (empty when the module gave no usable
// length) and the first code other than CKR_OK that either call answered.
struct AttributeValue {
    Bytes bytes;
    CK_RV rv = CKR_OK;
};
AttributeValue readAttributeValue(const P11Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);

// The two-call read: the value's length, then the value.
Bytes readAttribute(const P11Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);
// The value up to its first zero byte.
std::string readAttributeText(const P11Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);
std::string readAttributeBase64(const P11Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);
// The bytes of CKA_VALUE.
Bytes readValue(const P11Session& session, CK_OBJECT_HANDLE object);
// CKA_CLASS; CK_UNAVAILABLE_INFORMATION (no class) when it cannot be read.
CK_OBJECT_CLASS readClass(const P11Session& session, CK_OBJECT_HANDLE object);

// A PKCS#11 template that owns the values it points to, in the order they
// were added. Every value has a buffer, an empty one too: some vendor modules
// refuse a null value pointer even with length 0.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "Encoding.h"
#include "Pkcs11.h"

class AttributeTemplate {
public:
    AttributeTemplate() = default;
    // The attributes point into this object's values.
    AttributeTemplate(const AttributeTemplate&) = delete;
    AttributeTemplate& operator=(const AttributeTemplate&) = delete;

    AttributeTemplate& bytes(CK_ATTRIBUTE_TYPE type, const unsigned char* data, std::size_t length)
    {
        // A deque never moves its elements, so earlier pointers stay valid;
        // the spare zero byte gives an empty value a buffer.
        Bytes& value = values_.emplace_back(data, data + length);
        value.push_back(0);
        attributes_.push_back({ type, value.data(), static_cast<CK_ULONG>(length) });
        return *this;
    }
    AttributeTemplate& bytes(CK_ATTRIBUTE_TYPE type, const Bytes& value)
    {
        return bytes(type, value.data(), value.size());
    }
    AttributeTemplate& text(CK_ATTRIBUTE_TYPE type, const std::string& value)
    {
        return bytes(type, reinterpret_cast<const unsigned char*>(value.data()), value.size());
    }
    // CK_ULONG values travel with the platform's width of CK_ULONG.
    AttributeTemplate& number(CK_ATTRIBUTE_TYPE type, CK_ULONG value)
    {
        return bytes(type, reinterpret_cast<const unsigned char*>(&value), sizeof value);
    }
    AttributeTemplate& flag(CK_ATTRIBUTE_TYPE type, CK_BBOOL value) { return bytes(type, &value, sizeof value); }

    CK_ATTRIBUTE* data() { return attributes_.data(); }
    CK_ULONG count() const { return static_cast<CK_ULONG>(attributes_.size()); }
    const std::vector<CK_ATTRIBUTE>& attributes() const { return attributes_; }

private:
    std::deque<Bytes> values_;
    std::vector<CK_ATTRIBUTE> attributes_;
};

// The list of a signList request and its answer, the same on both roads:
// items {"id": any, "value": base64 text, "hashedData": bool} in, one
// {"data", "id", "signed"} object per item out, as compact JSON text.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

// As the JSON dependency writes a value with no indentation; bytes that are
// not UTF-8 (names in another code page) become U+FFFD instead of failing.
std::string compact(const nlohmann::json& value);

// A member that is absent reads as null.
const nlohmann::json& listMember(const nlohmann::json& item, const char* key);

// Every "value" that is a string must be base64, checked before any key is
// opened so that one bad value signs nothing; values of the wrong type fail
// in their turn, when their item is signed.
void requireBase64Values(const nlohmann::json& list);

class SignedList {
public:
    // Room for that many items of the usual size (a 4096-bit signature and a
    // SHA-512 digest in base64, with an id, fit in 1 KiB): a long answer is
    // written once rather than copied as it grows, and the pages of the room
    // that are never written are never touched.
    explicit SignedList(std::size_t items = 0) { text_.reserve(1 + items * 1024); }
    // The item's "value" as "data", its "id" (null when absent) and the
    // signature, after the items added before it.
    void add(const nlohmann::json& item, const std::string& signature);
    // The answer, "[]" when nothing was added; the list gives its text away.
    std::string text() &&
    {
        text_ += ']';
        return std::move(text_);
    }

private:
    std::string text_ = "[";
};

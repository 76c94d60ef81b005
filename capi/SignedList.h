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
    // The item's "value" as "data", its "id" (null when absent) and the
    // signature, after the items added before it.
    void add(const nlohmann::json& item, const std::string& signature);
    // "[]" when nothing was added.
    std::string text() const { return text_.empty() ? "[]" : text_ + "]"; }

private:
    std::string text_;
};

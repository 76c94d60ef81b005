#include "SignedList.h"

#include "Encoding.h"

namespace {

using Json = nlohmann::json;

// As the JSON dependency writes a value with no indentation; bytes that are
// not UTF-8 become U+FFFD.
std::string compact(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

const Json& listMember(const Json& item, const char* key)
{
    static const Json absent;
    const auto found = item.find(key);
    return found == item.end() ? absent : *found;
}

void requireBase64Values(const Json& list)
{
    for (const Json& item : list) {
        const Json& value = listMember(item, "value");
        if (value.is_string())
            requireBase64(value.get_ref<const std::string&>());
    }
}

void SignedList::add(const Json& item, const std::string& signature)
{
    // The members in key order, as the dependency writes an object; written
    // piece by piece, the item is never copied into a document of its own.
    text_ += text_.empty() ? "[" : ",";
    text_ += "{\"data\":" + compact(listMember(item, "value")) + ",\"id\":" + compact(listMember(item, "id"))
             + ",\"signed\":" + compact(signature) + "}";
}

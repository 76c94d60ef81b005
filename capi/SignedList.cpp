#include "SignedList.h"

#include <algorithm>

#include "Encoding.h"

namespace {

using Json = nlohmann::json;

// A string as the dependency writes it: printable ASCII other than the quote
// and the backslash stands as it is (all of base64, so every signature and
// every well-formed value); anything else goes through the dependency.
void appendString(std::string& out, const std::string& text)
{
    const bool plain
        = std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~' && c != '"' && c != '\\'; });
    if (!plain) {
        out += compact(Json(text));
        return;
    }
    out += '"';
    out += text;
    out += '"';
}

void appendValue(std::string& out, const Json& value)
{
    if (value.is_string())
        appendString(out, value.get_ref<const std::string&>());
    else
        out += compact(value);
}

}  // namespace

std::string compact(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

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
    // piece by piece into the answer, the item is never copied.
    text_ += text_.size() == 1 ? "{\"data\":" : ",{\"data\":";
    appendValue(text_, listMember(item, "value"));
    text_ += ",\"id\":";
    appendValue(text_, listMember(item, "id"));
    text_ += ",\"signed\":";
    appendString(text_, signature);
    text_ += '}';
}

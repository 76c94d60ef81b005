#include "SigningList.h"

#include <stdexcept>

#include "Encoding.h"
#include "Messages.h"

Json parseSigningList(const std::string& text)
{
    // The parser reports the depth of the container it is about to open,
    // counting the outermost one as 0.
    return Json::parse(text, [](int depth, Json::parse_event_t event, const Json&) {
        const bool opens = event == Json::parse_event_t::array_start || event == Json::parse_event_t::object_start;
        if (opens && depth >= kSigningListNestingLimit)
            throw std::runtime_error(kListNestedTooDeep);
        return true;
    });
}

Json decodeSigningList(const std::string& encoded) { return parseSigningList(textUpToZero(base64Decode(encoded))); }

#include "SigningList.h"

#include <algorithm>
#include <stdexcept>

#include "Encoding.h"
#include "Messages.h"

namespace {

// The dependency's own builder of the parsed value, which refuses a container
// nested deeper than the limit as the parser meets it. A parse callback would
// do the same at twice the cost: it is called, with a value made for it, at
// every key and value of the list.
class NestingBoundParser : public nlohmann::detail::json_sax_dom_parser<Json> {
public:
    explicit NestingBoundParser(Json& result)
        : json_sax_dom_parser(result)
    {
    }
    bool start_object(std::size_t size)
    {
        enter();
        return json_sax_dom_parser::start_object(size);
    }
    bool end_object()
    {
        --depth_;
        return json_sax_dom_parser::end_object();
    }
    bool start_array(std::size_t size)
    {
        enter();
        return json_sax_dom_parser::start_array(size);
    }
    bool end_array()
    {
        --depth_;
        return json_sax_dom_parser::end_array();
    }

private:
    // The outermost container is at depth 0.
    void enter()
    {
        if (depth_++ >= kSigningListNestingLimit)
            throw std::runtime_error(kListNestedTooDeep);
    }

    int depth_ = 0;
};

}  // namespace

Json decodeSigningList(std::string encoded)
{
    const Bytes decoded = base64Decode(encoded);
    // A list may run to megabytes: its base64 text goes before it is parsed.
    std::string().swap(encoded);
    const auto* text = reinterpret_cast<const char*>(decoded.data());
    Json list;
    NestingBoundParser parser(list);
    Json::sax_parse(text, std::find(text, text + decoded.size(), '\0'), &parser);
    return list;
}

#include "ArgVector.h"

#include <cctype>
#include <climits>
#include <stdexcept>

#include "Messages.h"
#include "ValueSources.h"

namespace {

// "@" is no base64 character: no base64 value starts with it, so a value and
// a place to read one from are never confused.
constexpr char kFromFile = '@';
constexpr const char* kFromStandardInput = "@-";

} // namespace

ArgVector::ArgVector(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i)
        args_.emplace_back(argv[i]);
}

ArgVector::~ArgVector()
{
    for (std::string& arg : args_)
        wipe(arg);
}

int ArgVector::integer(std::size_t position) const { return toInt(text(position)); }

bool ArgVector::flag(std::size_t position) const { return toBool(text(position)); }

std::string ArgVector::base64Text(std::size_t position) const
{
    if (!readsElsewhere(position))
        return text(position);
    return heldValue([&](const ValuePiece& piece) { base64Pieces(position, piece); });
}

bool ArgVector::readsElsewhere(std::size_t position) const
{
    const std::string& arg = text(position);
    return !arg.empty() && arg[0] == kFromFile;
}

void ArgVector::base64Pieces(std::size_t position, const ValuePiece& piece) const
{
    const std::string& arg = text(position);
    if (arg != kFromStandardInput)
        return readValueFile(arg.substr(1), piece);
    takeStandardInput();
    readStandardInput(piece);
}

SecretText ArgVector::pin(std::size_t position) const
{
    const std::string& arg = text(position);
    if (arg != kFromStandardInput)
        return SecretText(arg);
    takeStandardInput();
    return readStandardInputLine();
}

void ArgVector::takeStandardInput() const
{
    if (inputTaken_)
        throw std::runtime_error(kStandardInputTwice);
    inputTaken_ = true;
}

int toInt(const std::string& text)
{
    // text[text.size()] is the terminating zero, which ends every step.
    std::size_t i = 0;
    while (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))
        ++i;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-')
        negative = text[i++] == '-';
    long long value = 0;
    for (; text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            break;
    }
    if (negative)
        return value > static_cast<long long>(INT_MAX) ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

bool toBool(const std::string& text)
{
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "true";
}

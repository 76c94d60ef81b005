#include "Secret.h"

#include <windows.h>

void wipe(void* data, std::size_t size) { SecureZeroMemory(data, size); }

void wipe(std::string& text) { wipe(text.data(), text.size()); }

void SecretText::append(char c)
{
    if (text_.size() == text_.capacity()) {
        std::string larger;
        larger.reserve(2 * text_.capacity());
        larger.append(text_);
        wipe(text_);
        text_.swap(larger);
    }
    text_ += c;
}

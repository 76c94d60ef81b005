// Secrets (the token PIN) in memory: every copy is overwritten when it goes
// away, so that no PIN outlives its use in memory that is freed or reused.
#pragma once

#include <cstddef>
#include <string>

// Overwrites with zeros in a way the compiler may not drop.
void wipe(void* data, std::size_t size);
void wipe(std::string& text);

// A copy of a secret text, wiped when destroyed. Copies are wiped each on
// their own; there is no move, which would leave the bytes behind.
class SecretText {
public:
    explicit SecretText(const std::string& text) : text_(text) {}
    SecretText(const SecretText& other) : text_(other.text_) {}
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText() { wipe(text_); }

    const std::string& text() const { return text_; }
    // Adds a byte; a full buffer is wiped once the text has moved to a
    // larger one.
    void append(char c);
    // Empty again, the bytes it held wiped.
    void clear()
    {
        wipe(text_);
        text_.clear();
    }
    // For APIs whose parameter is not const.
    unsigned char* bytes() { return reinterpret_cast<unsigned char*>(text_.data()); }
    std::size_t size() const { return text_.size(); }

private:
    std::string text_;
};

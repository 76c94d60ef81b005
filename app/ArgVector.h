// The program arguments after the program name, read by position. Reading a
// position that is not there raises std::out_of_range. Any position may hold
// a PIN: every argument is wiped when the vector goes away.
#pragma once

#include <string>
#include <vector>

#include "Secret.h"
#include "ValueSources.h"

class ArgVector {
public:
    ArgVector(int argc, const char* const* argv);
    explicit ArgVector(std::vector<std::string> args) : args_(std::move(args)) {}
    ArgVector(const ArgVector&) = delete;
    ArgVector& operator=(const ArgVector&) = delete;
    ~ArgVector();

    std::size_t size() const { return args_.size(); }
    const std::string& text(std::size_t position) const { return args_.at(position); }
    int integer(std::size_t position) const;
    bool flag(std::size_t position) const;
    // A base64 value, which may be long: the argument, or, written "@PATH",
    // the content of that file; "@-" reads standard input to its end. A
    // value read so is held whole, up to kHeldValueCeiling.
    std::string base64Text(std::size_t position) const;
    // Whether the value is written "@PATH" or "@-".
    bool readsElsewhere(std::size_t position) const;
    // Such a value, handed over in pieces as it is read, in constant memory.
    void base64Pieces(std::size_t position, const ValuePiece& piece) const;
    // A PIN: the argument, or, written "@-", the first line of standard input.
    SecretText pin(std::size_t position) const;

private:
    // Standard input serves one parameter of a request.
    void takeStandardInput() const;

    std::vector<std::string> args_;
    mutable bool inputTaken_ = false;
};

// atoi rules: leading white space, optional sign, decimal digits up to the
// first other character; no digits give 0. Out-of-range values saturate, as
// the Windows runtime's atoi does.
int toInt(const std::string& text);

// "true" in any letter case; every other text is false.
bool toBool(const std::string& text);

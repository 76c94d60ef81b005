// Threads of the stand-in, and the rule that keeps a card on one of them.
#pragma once

#include <string>

namespace standin {

// A card is one device: on Windows a second thread that opens its key waits
// for the card, or asks the user for its PIN again. The stand-in stops a
// program whose second thread opens a key of the same card.
void oneThreadPerCard(const std::string& card);

}  // namespace standin

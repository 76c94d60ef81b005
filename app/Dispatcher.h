#pragma once

#include "ArgVector.h"
#include "Envelope.h"

// Routes one request (at least three arguments) to its operation and answers
// the envelope; every failure is turned into its "error" member.
Json dispatch(const ArgVector& args);

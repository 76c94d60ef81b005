#include "ArgVector.h"
#include "Dispatcher.h"
#include "Envelope.h"
#include "Secret.h"

#include <cstring>

int main(int argc, char** argv)
{
    try {
        const ArgVector args(argc, argv);
        // The runtime's copies of the arguments may hold a PIN; the vector
        // has its own from here on.
        for (int i = 1; i < argc; ++i)
            wipe(argv[i], std::strlen(argv[i]));
        if (args.size() < 3)
            return 0;
        printEnvelope(dispatch(args));
    } catch (...) {
        // Nothing may reach the caller but the envelope and exit code 0.
    }
    return 0;
}

#include "ArgVector.h"
#include "Dispatcher.h"
#include "Envelope.h"

int main(int argc, char** argv)
{
    try {
        const ArgVector args(argc, argv);
        if (args.size() < 3)
            return 0;
        printEnvelope(dispatch(args));
    } catch (...) {
        // Nothing may reach the caller but the envelope and exit code 0.
    }
    return 0;
}

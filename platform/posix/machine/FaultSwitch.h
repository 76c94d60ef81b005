// The fault switch of the stand-in: failures that a healthy machine never
// shows, on request. SIGBRID_FAULTS holds comma-separated entries
//   Function=code      every call of Function fails with last error `code`
//   Function#N=code    only the Nth call (counted from 1, from the moment
//                      the process first sees this setting)
// with `code` in decimal or 0x-hexadecimal, e.g.
//   SIGBRID_FAULTS="CryptAcquireContextA=0x80090016,CryptSignHashA#2=5"
// or `kill`: the process is killed (SIGKILL) at that call, as a crash or a
// killed caller would stop it. "StateWrite" names every change to the
// machine's state files (a file written, a directory made, renamed or
// removed), so StateWrite#N=kill stops a request right before its Nth change.
#pragma once

namespace standin {

// Called first by every stand-in entry point with its own name: true after
// SetLastError(code) when the switch names this call, and the caller then
// fails as the function fails on Windows (FALSE, NULL or 0).
bool injectFault(const char* function);

}  // namespace standin

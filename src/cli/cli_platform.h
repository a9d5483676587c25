#pragma once

// What veltractl needs from the operating system, one file per platform
// (cli_platform_posix.cpp, cli_platform_win.cpp).
namespace veltra::cli {

// From now on, Ctrl+C and a request to terminate (SIGINT, SIGTERM; on
// Windows the console's Ctrl+C, Ctrl+Break and close events) make
// interrupted() true, so the client stops waiting and closes the port; on
// POSIX they are unblocked too. A second Ctrl+C ends the program at once.
// main() calls it first: until then a signal has its default effect.
void watchInterrupts();
bool interrupted();

// Help texts that name this platform's devices.
struct PlatformTexts {
    const char* deviceHelp;    // --device
    const char* portHelp;      // --port
    const char* portsHelp;     // the ports command
    const char* deviceFailed;  // exit code 3's lines in the exit code list
    const char* interruptedBy; // what exit code 130 follows
};
const PlatformTexts& platformTexts();

}  // namespace veltra::cli

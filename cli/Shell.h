#pragma once

namespace kestrune {

// Exit statuses of the shell commands.
enum TShellExit : int
{
    ShellOk = 0,
    ShellReplyMissed = 1,    // run: a reply line got no reply
    ShellTransferFailed = 1, // send, receive: the transfer failed or was cancelled
    ShellUsage = 2,          // a usage error, or a file that cannot be read
    ShellChannel = 3,        // a channel did not open or was lost
    ShellTimeout = 4         // run: --timeout ran out
};

// True when the arguments ask for a shell command (run, bridge, send, receive, --help,
// --version) rather than the window.
[[nodiscard]] bool IsShellInvocation(int argc, char **argv);

// Runs a shell command without a window or a display; its exit status.
[[nodiscard]] int ShellMain(int argc, char **argv);

} // namespace kestrune

// How a target's run ended: morvenctl's exit statuses, one per stage that can fail.
#pragma once

// What a target's run ends with, and morvenctl's exit status: one code per stage that can fail.
namespace morven::station {

enum ExitCode {
    Ok = 0,
    Internal = 1, // something the tool itself could not do
    BadInput = 2, // bad arguments (BadUsage, as in every program), or an input file that cannot be used
    LinkFailed = 3, // the serial device or the TCP connection could not be opened
    NoBootloader = 4, // nothing answered the link tests
    EraseFailed = 5, // the erase was answered with a failure
    LineRejected = 6, // one line was rejected 11 times
    ReplyTimeout = 7, // the target stopped answering, or the link went down
    OverallTimeout = 8, // the whole run took longer than --timeout
    Interrupted = 130, // SIGINT (SIGTERM ends morvenctl with 143)
};

} // namespace morven::station

#pragma once

#include <QString>
#include <vector>

// The attacks the tool replays, one per row of its table. Each runs in a
// child process of the tool (see attacker.cpp) from the loopback address
// 127.0.0.2 (or many of them), while the tool's honest members draw from
// 127.0.0.3 and 127.0.0.4.
struct Row {
    const char* name;
    const char* what; // one line for the table
    bool busyPicture; // the board is drawn full of colour first (snapshots cost)
};

inline const std::vector<Row>& rows() {
    static const std::vector<Row> all = {
        {"baseline", "no attack: the honest members alone", false},
        {"snap-flood", "one send of 66 KB of \"7:snap\" lines, never reading", true},
        {"snap-burst", "one send of 100 x (draw line + \"7:snap\")", true},
        {"snap-burst-page", "the same as one page message", true},
        {"snap-drip", "draw line + \"7:snap\" 100 times a second, never reading", true},
        {"snap-loop", "\"7:snap\" in a loop (reading) while others draw", true},
        {"clear-flood", "6,500 clear-all lines (58 KB) in one send", false},
        {"get-pipeline", "pipelined GET /app.js on the page port, never reading", false},
        {"endless-header", "a request header that never ends", false},
        {"huge-body", "a request announcing a 2 GB body, then sending it", false},
        {"ws-pings", "WebSocket pings, never reading the pongs", false},
        {"half-requests", "1,100 half-sent page requests from one address", false},
        {"half-requests-many", "1,100 half-sent page requests from 110 addresses", false},
        {"long-lines", "560 drawing lines of 63 KB", false},
        {"ws-no-origin", "171 WebSockets without an Origin from one address", false},
    };
    return all;
}

struct AttackerArgs {
    QString row;
    quint16 drawPort = 0;
    quint16 textPort = 0;
    quint16 httpPort = 0;
    double seconds = 10;
};

// The child process: runs the row until `seconds` have passed, then prints
// "result <key> <value>" lines for the tool and returns.
int runAttacker(const AttackerArgs& args);

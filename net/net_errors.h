// Codes of the socket layer: returned by NetConnection::open and passed to the manager's error
// callback (as unsigned 32-bit values). Clients pass them on as their connect results.
#pragma once

enum NetError : int {
    kNetSocketFailed = -3001,   // open: socket() failed
    kNetBindFailed = -3002,     // open, UDP: bind() failed
    kNetConnectFailed = -3004,  // open, TCP: the connect ended with a socket error
    kNetConnectTimeout = -3005, // open, TCP: not connected within 5 s, or the wait failed
    kNetSendtoShort = -3010,    // send, UDP: fewer bytes went out than the payload
    kNetSendFailed = -3011,     // send, TCP: failed, or made no progress for 5 s
    kNetPollFailed = -3012,     // poll thread: the poll call failed
    kNetHangUp = -3013,         // poll thread: hang-up; the socket is closed and dropped
    kNetRecvfromFailed = -3014, // poll thread: a UDP receive failed or was empty
    kNetRecvFailed = -3015,     // poll thread: the peer closed the TCP connection or it failed;
                                // the socket is closed and dropped
    kNetNoResource = -3016,     // open: 8 sockets in use, unknown connection or kind, or the
                                // poll thread could not be started
};

// Results of a device connect. Besides these values, a connect passes on unchanged the negative
// socket-layer code (-3001 to -3016) with which opening one of its connections failed, so the
// enumeration has a fixed 32-bit type that can carry any such code.
#pragma once

#include <cstdint>

enum MdvError : int32_t {
    MdvErrorNone = 0,
    // A step of the connect sequence failed after the control connection was open.
    MdvErrorFailed = -1,
    // The control connection opened but the device gave no valid answer to the first request.
    MdvErrorNoReply = -1002,
    // connect was called while the client was not idle.
    MdvErrorBusy = -2002,
    // The local bind address could not be resolved, so no connection was attempted.
    MdvErrorConnectFailed = -2003,
};

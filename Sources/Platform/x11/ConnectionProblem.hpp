// What a person is told when a connection to an X display fails, by the
// error xcb gives for it.
#pragma once

#include <xcb/xcb.h>

#include <string>

namespace quellan::x11 {

/// `xcbError` is what xcb_connection_has_error gave for the failed connection.
inline std::string connectionProblem(int xcbError) {
    switch (xcbError) {
    case XCB_CONN_CLOSED_PARSE_ERR:
        return "the display name is malformed";
    case XCB_CONN_CLOSED_INVALID_SCREEN:
        return "the display has no such screen";
    default:
        return "the server refused or did not answer the connection";
    }
}

} // namespace quellan::x11

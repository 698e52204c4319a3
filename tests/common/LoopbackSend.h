// The send command's request to 127.0.0.1, as the network and host tests make it.
#pragma once

#include <string_view>

#include "net/SendCommand.h"

/// A request to send text to 127.0.0.1 at port, waiting replyTimeoutMs for the reply. The
/// request only views port and text: both must outlive it.
inline SendRequest LoopbackRequest(std::string_view port, std::string_view text,
                                   int replyTimeoutMs = 0) {
    SendRequest r;
    r.ipBlank = false;
    r.ipFields = {127, 0, 0, 1};
    r.portText = port;
    r.messageText = text;
    r.replyTimeoutMs = replyTimeoutMs;
    return r;
}

#pragma once

#include "platform/ax/Accessibility.h"

#include <QString>

// A ringing call as seen on screen: a snapshot that may go stale as soon as the Phone app redraws.
struct IncomingCall {
    // The answer button that was found; pressing it answers the call.
    ax::Element button;
    // The caller's number as displayed, or "Identité à confirmer".
    QString caller;
};

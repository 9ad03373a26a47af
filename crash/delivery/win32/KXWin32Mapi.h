#pragma once
// The Simple MAPI fallback: MAPISendMail of mapi32.dll with the send's mail.
#include <windows.h>
#include <mapi.h>

#include "crash/delivery/KXDeliverBugReport.h"

namespace kx {

// MAPISendMail of mapi32.dll, loaded at run time the first time it is asked for; null when the
// library or the function is missing.
LPMAPISENDMAIL SystemMapiSendMail();

// Calls sendMail with the mail: one recipient of class To per item, the attachments with their
// 8-bit paths, their send-as names and position -1, the flags as given. A topmost parent window
// leaves the topmost band for the call and returns to it afterwards; a main thread paused by the
// exception handling runs during the call. Failed when sendMail is null.
KXMapiOutcome SendThroughMapi(const KXMapiMail &mail, LPMAPISENDMAIL sendMail);

} // namespace kx

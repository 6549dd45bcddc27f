// SPDX-License-Identifier: MIT
// What a sendmail command's exit code means for the queued message. (An SMTP
// failure is read by classifyConnectionFailure in connection_options.h.)
#pragma once

#include "provider/transport/delivery_failure.h"

namespace mb::provider {

// A sendmail command's exit code (not 0), by sysexits.h: the message or an
// address at fault is permanent; a refused login or a configuration the user
// must mend (msmtp without a sender, EX_CONFIG) needs attention; anything
// else may work next time.
DeliveryFailure::Kind classifySendmailExit(int exitCode);

}  // namespace mb::provider

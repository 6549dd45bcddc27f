// SPDX-License-Identifier: MIT
#include "provider/transport/failure_class.h"

namespace mb::provider {

DeliveryFailure::Kind classifySendmailExit(int exitCode) {
    switch (exitCode) {
        case 65:  // EX_DATAERR
        case 67:  // EX_NOUSER
        case 68:  // EX_NOHOST
            return DeliveryFailure::Kind::Permanent;
        case 77:  // EX_NOPERM: a refused login
        case 78:  // EX_CONFIG: msmtp without a sender, a broken configuration
            return DeliveryFailure::Kind::NeedsAttention;
        default:
            return DeliveryFailure::Kind::Temporary;
    }
}

}  // namespace mb::provider

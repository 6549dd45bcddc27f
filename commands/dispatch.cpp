// SPDX-License-Identifier: MIT
#include <array>

#include "commands/address_picker.h"
#include "commands/auto_complete.h"
#include "commands/mapi_session.h"
#include "commands/send_mail.h"

namespace {

struct CommandRoute {
    const char* name;
    ParamMap (*run)(MapiSession& session);
};

// Compared in this order, exactly and case-sensitively; the first match runs.
constexpr std::array<CommandRoute, 3> kRoutes{{
    {"SendMail", sendMail},
    {"OutlookGetAddrs", outlookGetAddrs},
    {"AutoCompleteFileName", autoCompleteFileName},
}};

}  // namespace

ParamMap MapiSession::dispatch(KsString commandName) {
    for (const CommandRoute& route : kRoutes) {
        if (commandName.equals(KsString(route.name))) {
            return route.run(*this);
        }
    }
    ParamMap result;
    result[KsString("error")] = KsString("Not Supported");
    return result;
}

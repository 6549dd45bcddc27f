#include <array>

#include "mapi/mapi_session.h"

namespace {

struct CommandRoute {
    const char* name;
    ParamMap (*run)(MapiSession& session);
};

// Compared in this order, exactly and case-sensitively; the first match runs.
// SendMail, OutlookGetAddrs and AutoCompleteFileName take their places here.
constexpr std::array<CommandRoute, 0> kRoutes{};

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

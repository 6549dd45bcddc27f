// SPDX-License-Identifier: MIT
#include "host/mail_commands.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "host/attachment_check.h"
#include "host/client_cli.h"
#include "host/command_outcome.h"
#include "host/default_store.h"
#include "host/mail_request.h"
#include "host/message_subject.h"
#include "host/store_watch.h"
#include "mapi/mapi.h"

namespace {

// `note`, when not empty, ends the line of a failure.
HRESULT replyStatus(const BrokerConnection::Reply& reply);

int finish(const std::string& command, const BrokerConnection::Reply& reply, std::ostream& err,
           std::string note = {}) {
    CommandOutcome outcome = judgeReply(command, reply.values);
    if (outcome.kind == CommandOutcome::Kind::Failed && note.empty() &&
        replyStatus(reply) == MAPI_E_CORRUPT_DATA) {
        // The provider only says "corrupt data"; the client reads the file
        // itself and names the line.
        note = profilesProblemNote();
    }
    switch (outcome.kind) {
        case CommandOutcome::Kind::Done:
            return kExitOk;
        case CommandOutcome::Kind::Failed:
            err << "mailbroker-client: " << outcome.message << (note.empty() ? "" : ": ") << note
                << '\n';
            return kExitCommandFailed;
        default:
            err << "mailbroker-client: " << outcome.message << '\n';
            return kExitBadReply;
    }
}

int simpleCommand(ClientSession& session, const std::string& command, const std::string& request,
                  std::ostream& out, std::ostream& err) {
    BrokerConnection::Reply reply = session.request(request);
    printValues(reply.values, out);
    return finish(command, reply, err);
}

// The reply's status, or S_OK when it carries none that can be read.
HRESULT replyStatus(const BrokerConnection::Reply& reply) {
    const auto found = reply.values.find(KsString("error"));
    if (found == reply.values.end()) {
        return S_OK;
    }
    KsString copy(found->second);
    char* end = nullptr;
    const long long code = std::strtoll(copy.utf8View(), &end, 10);
    return *end == '\0' && code >= INT32_MIN && code < 0 ? static_cast<HRESULT>(code) : S_OK;
}

std::string workingDirectory() {
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    return ec ? std::string("/") : cwd.string();
}

}  // namespace

int sendCommand(ClientSession& session, const std::vector<std::string>& args, std::ostream& out,
                std::ostream& err) {
    std::string request = sendRequest(args, workingDirectory());
    DefaultStore store = defaultStore();
    std::optional<StoreSnapshot> before;
    if (!store.path.empty()) {
        before = StoreSnapshot::take(store.path);
    }
    BrokerConnection::Reply reply = session.request(request);
    printValues(reply.values, out);
    if (before) {
        StoreChange change = compareSnapshots(*before, StoreSnapshot::take(store.path));
        for (const auto& m : change.added) {
            const std::string why = filingReason(store, m);
            out << describeFiling(m, store.transport, why) << '\n';
        }
        for (const auto& m : change.moved) {
            if (m.folder != "Outbox") {
                out << "also " << (m.folder == "Sent Items" ? "delivered" : "moved to " + m.folder)
                    << ", an earlier message: " << m.path << '\n';
            }
        }
        if (change.added.empty() &&
            judgeReply("SendMail", reply.values).kind == CommandOutcome::Kind::Done) {
            err << "mailbroker-client: no new message appeared in " << store.path << '\n';
        }
    } else if (!store.why.empty()) {
        err << "mailbroker-client: cannot tell where the message went: " << store.why << '\n';
    }
    return finish("SendMail", reply, err,
                  attachmentFailureNote(replyStatus(reply), sentAttachments(request)));
}

int addrsCommand(ClientSession& session, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err) {
    std::string request = addrsRequest(args);
    return simpleCommand(session, "OutlookGetAddrs", request, out, err);
}

int profileCommand(ClientSession& session, const std::vector<std::string>& args, std::ostream& out,
                   std::ostream& err) {
    std::string request = profileRequest(args);
    return simpleCommand(session, "AutoCompleteFileName", request, out, err);
}

int flushCommand(ClientSession& session, const std::vector<std::string>&, std::ostream& out,
                 std::ostream& err) {
    DefaultStore store = defaultStore();
    std::optional<StoreSnapshot> before;
    if (!store.path.empty()) {
        before = StoreSnapshot::take(store.path);
    }
    // The logon then retries every queued message, due or not.
    session.setBrokerEnvironment("MAILBROKER_FLUSH=1");
    BrokerConnection::Reply reply = session.request(flushRequest());
    printValues(reply.values, out);
    if (!before) {
        if (!store.why.empty()) {
            err << "mailbroker-client: cannot look into the Outbox: " << store.why << '\n';
        }
        return finish("AutoCompleteFileName", reply, err);
    }
    StoreSnapshot after = StoreSnapshot::take(store.path);
    StoreChange change = compareSnapshots(*before, after);
    for (const auto* list : {&change.moved, &change.added}) {
        for (const auto& m : *list) {
            if (m.folder == "Sent Items") {
                out << "delivered: " << m.path << '\n';
            } else if (m.folder == "Undeliverable") {
                out << "undeliverable: " << m.path << '\n';
            }
        }
    }
    std::vector<StoredMessage> waiting = after.inFolder("Outbox");
    out << "outbox: " << waiting.size()
        << (waiting.size() == 1 ? " message waits" : " messages wait") << " in " << store.path
        << "/Outbox (transport: " << transportForDisplay(store.transport) << ")\n";
    for (const auto& m : waiting) {
        std::optional<std::string> subject = readSubject(m.path);
        out << "  " << (subject ? *subject : "(no subject)") << '\n';
    }
    return finish("AutoCompleteFileName", reply, err);
}

#include "ctl/SessionCommands.h"

#include "admin/SessionsRequest.h"
#include "ctl/JsonWriter.h"
#include "ctl/ServerCommands.h"
#include "ctl/TextTable.h"

namespace corvel {
namespace {

std::string protocolName(std::uint8_t protocol) {
    switch (protocol) {
        case 1: return "ftp";
        case 2: return "web";
        case 3: return "sftp";
        default: return "?";
    }
}

int refuseFor(const CommandContext& context, ExchangeOutcome outcome) {
    switch (outcome) {
        case ExchangeOutcome::NoServer:
            return context.refuse("no server is running");
        case ExchangeOutcome::NoAnswer:
            return context.refuse("the running server did not answer within " +
                                  std::to_string(kControlAnswerWait.count() / 1000) + " seconds");
        case ExchangeOutcome::TimedOut:
        case ExchangeOutcome::Answered:
            break;
    }
    return context.refuse("the running server's control block stayed locked for " +
                          std::to_string(kBlockMutexWaitMs / 1000) + " seconds; nothing was asked");
}

// Digits only, 1 or more, fitting 64 bits.
std::optional<std::uint64_t> sessionIdValue(const std::string& text) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const std::uint64_t id = std::stoull(text);
    if (id == 0) return std::nullopt;
    return id;
}

}  // namespace

int listSessions(const CommandContext& context) {
    ExchangeOutcome outcome = ExchangeOutcome::NoServer;
    const std::optional<SessionList> list = fetchSessions(&outcome);
    if (!list) return refuseFor(context, outcome);
    if (context.invocation.json) {
        JsonWriter json;
        json.beginArray();
        for (const SessionRecord& record : list->records) {
            json.beginObject().key("id").number(static_cast<std::int64_t>(record.id));
            json.key("protocol").string(protocolName(record.protocol));
            json.key("user");
            if (record.user.empty())
                json.null();
            else
                json.string(record.user);
            json.key("address").string(record.address);
            json.key("since").string(isoLocalTime(static_cast<std::time_t>(record.since)));
            json.key("sinceUnix").number(record.since);
            json.key("bytes").number(static_cast<std::int64_t>(record.bytes));
            json.endObject();
        }
        json.endArray();
        context.io.out << json.text() << "\n";
        return kExitDone;
    }
    std::vector<std::vector<std::string>> rows = {{"ID", "PROTOCOL", "USER", "ADDRESS", "SINCE", "BYTES"}};
    for (const SessionRecord& record : list->records)
        rows.push_back({std::to_string(record.id), protocolName(record.protocol),
                        record.user.empty() ? "-" : displayText(record.user), displayText(record.address),
                        isoLocalTime(static_cast<std::time_t>(record.since)), std::to_string(record.bytes)});
    context.io.out << formatTable(rows);
    if (list->truncated) context.io.out << "(the first " << kSessionRecords << " sessions; more are running)\n";
    return kExitDone;
}

int kickSessions(const CommandContext& context) {
    const Invocation& given = context.invocation;
    KickRequest request;
    if (const std::string* user = given.value("--user")) {
        if (!given.operands.empty()) return context.refuse("give a session ID or --user NAME, not both");
        if (user->empty() || user->size() > kSessionUserBytes)
            return context.refuse("--user takes an account name of 1 to " + std::to_string(kSessionUserBytes) +
                                  " bytes");
        request.user = *user;
    } else {
        if (given.operands.empty()) return context.refuse("'corvelctl kick' needs a session ID or --user NAME");
        const std::optional<std::uint64_t> id = sessionIdValue(given.operands[0]);
        if (!id)
            return context.refuse("'" + displayText(given.operands[0]) +
                                  "' is no session ID (a number from corvelctl sessions)");
        request.id = *id;
    }
    ExchangeOutcome outcome = ExchangeOutcome::NoServer;
    const std::optional<std::uint32_t> closed = requestKick(request, &outcome);
    if (!closed) return refuseFor(context, outcome);
    if (*closed == 0)
        return context.refuse(request.id ? "no live session has the ID " + std::to_string(request.id)
                                         : "no live session of " + displayText(request.user));
    context.io.out << "Closed " << *closed << (*closed == 1 ? " session.\n" : " sessions.\n");
    return kExitDone;
}

}  // namespace corvel

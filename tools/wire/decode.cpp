#include "decode.h"

#include "protocol/exchange.h"
#include "protocol/text.h"
#include "request_call.h"
#include "wire_port.h"

namespace qk42rt::wire {
namespace {

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

}  // namespace

Decoded decode_exchange(std::span<const std::uint8_t> request, const std::optional<Bytes>& reply) {
    Decoded decoded;
    const ParsedRequest parsed = parse_request(request);
    std::vector<std::string>& problems = decoded.problems;
    problems = parsed.problems;
    decoded.notes = parsed.notes;
    nlohmann::json& json = decoded.json;
    json["request"] = protocol::hex_bytes(request);
    json["reply"] = reply ? nlohmann::json(protocol::hex_bytes(*reply)) : nlohmann::json(nullptr);
    json["operation"] = parsed.call ? nlohmann::json(parsed.call->operation) : nullptr;

    if (!parsed.call) {
        decoded.malformed = true;
        decoded.meaning = "not a request the library sends: " + protocol::hex_bytes(request);
        if (reply) {
            decoded.meaning += reply->empty()
                                   ? "  -> (no reply)"
                                   : "  -> reply " + protocol::hex_bytes(*reply) + " not judged";
        }
        json["command"] =
            parsed.command.empty() ? nlohmann::json(nullptr) : nlohmann::json(parsed.command);
    } else {
        const Call& call = *parsed.call;
        json["function"] = std::string(call.info.name);
        json["address"] = call.address;
        nlohmann::json arguments = nlohmann::json::object();
        decoded.meaning = call.operation + "  address " + std::to_string(call.address);
        for (const Argument& argument : call.arguments) {
            arguments[argument.name] = argument.value;
            decoded.meaning += "  " + argument.shown;
        }
        json["arguments"] = arguments;

        // The operation runs on the reply seen (or on none, for the request alone); what it
        // writes must be the request seen, or the reading above is wrong.
        WirePort port(reply.value_or(Bytes{}));
        protocol::Line line(&port);
        const Verdict verdict = call.run(line, reply.value_or(Bytes{}));
        const bool reencodes = Bytes(request.begin(), request.end()) == port.written();
        json["reencodes"] = reencodes;
        if (!reencodes) {
            decoded.malformed = true;
            problems.push_back("the library sends " + protocol::hex_bytes(port.written()) +
                               " for this operation");
        }
        if (reply) {
            decoded.meaning += "  -> " + verdict.text;
            decoded.error = verdict.error;
            json["ok"] = !verdict.error.has_value();
            json["result"] = verdict.result;
            json["error"] = verdict.error ? nlohmann::json(describe(*verdict.error)) : nullptr;
            if (reply->size() > call.info.reply_length) {
                decoded.malformed = true;
                problems.push_back(
                    "reply too long: " + std::to_string(reply->size()) + " bytes, " +
                    call.operation + " answers with " + std::to_string(call.info.reply_length) +
                    "; the library takes the first " + std::to_string(call.info.reply_length));
            }
        }
    }
    decoded.valid = !decoded.malformed && !decoded.error;
    json["problems"] = problems;
    json["notes"] = parsed.notes;
    json["valid"] = decoded.valid;
    json["text"] = decoded_line(decoded);
    return decoded;
}

std::string decoded_line(const Decoded& decoded) {
    std::string line = decoded.meaning;
    for (const auto& note : decoded.notes) line += "  note: " + note;
    if (!decoded.problems.empty()) line += "  !! " + joined(decoded.problems);
    return line;
}

}  // namespace qk42rt::wire

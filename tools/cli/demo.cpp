// `demo`: an instrument simulated on a pseudo-terminal in this process, and every operation
// run against it once, each shown with its request and reply bytes and what they mean.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "commands/commands.h"
#include "commands/words.h"
#include "demo_simulator.h"
#include "subcommands.h"

namespace qk42rt::cli {
namespace {

using protocol::Line;

struct Result {
    bool ok = false;
    std::string text;
};

template <class T, class Describe>
Result result_of(const Outcome<T>& outcome, Describe describe_value) {
    if (!outcome.ok()) return {false, "failed: " + describe(outcome.error())};
    return {true, describe_value(outcome.value())};
}

Result acknowledged(const Outcome<Done>& outcome) {
    return result_of(outcome, [](const Done&) { return std::string("acknowledged"); });
}

// For the writes whose reply is only counted, never compared.
Result answered(const Outcome<Done>& outcome) {
    return result_of(outcome, [](const Done&) { return std::string("answered"); });
}

std::string reading_text(const char* name, const commands::Reading& reading) {
    return std::string(name) + " " + format_float(reading.value) + ", status " +
           std::to_string(reading.status);
}

std::string four_bytes_text(const commands::FourBytes& bytes) {
    const Record record = four_bytes_record(bytes);
    return "bytes " + text_value(record["bytes"]) + ", count " + text_value(record["count"]);
}

struct Step {
    std::string title;  // what the step does
    std::string shell;  // the same with this client
    std::function<Result(Line&)> run;
    bool expect_failure = false;
};

std::vector<Step> steps() {
    using namespace commands;
    auto flag = [](bool on) { return std::string(on ? "on" : "off"); };
    return {
        {"read version", "qk42rt version",
         [](Line& l) {
             return result_of(read_version(l, 1), [](const Version& v) {
                 return "version " + (v.number ? format_float(*v.number) : std::string("?")) +
                        ", kind " + commands::kind_text(v.kind) + ", info " +
                        std::to_string(v.info1) + " " + std::to_string(v.info2);
             });
         }},
        {"switch channels 1 and 2 on (bits 0 and 1)", "qk42rt onoff 3",
         [](Line& l) {
             return result_of(set_on_off(l, 1, 0x03), [](Done) { return std::string("answered"); });
         }},
        {"read on/off state", "qk42rt onoff",
         [](Line& l) {
             return result_of(read_on_off(l, 1),
                              [](int state) { return "state " + std::to_string(state); });
         }},
        {"set unit of channel 1 to 2", "qk42rt unit 1 2",
         [](Line& l) { return acknowledged(set_unit(l, 1, 1, 2)); }},
        {"read unit of channel 1", "qk42rt unit 1",
         [](Line& l) {
             return result_of(read_unit(l, 1, 1),
                              [](int unit) { return "unit " + std::to_string(unit); });
         }},
        {"set maximum flow of channel 1 to 100, code 2", "qk42rt maxflow 1 100 2",
         [](Line& l) { return acknowledged(set_maxflow(l, 1, 1, 100.0f, 2)); }},
        {"read maximum flow of channel 1", "qk42rt maxflow 1",
         [](Line& l) {
             return result_of(read_maxflow(l, 1, 1),
                              [](const Reading& r) { return reading_text("maxflow", r); });
         }},
        {"set setpoint of channel 1 to 50.5", "qk42rt setpoint 1 50.5",
         [](Line& l) { return acknowledged(set_setpoint(l, 1, 1, 50.5f)); }},
        {"set setpoint of channel 2 to 20", "qk42rt setpoint 2 20",
         [](Line& l) { return acknowledged(set_setpoint(l, 1, 2, 20.0f)); }},
        {"read setpoint of channel 1", "qk42rt setpoint 1",
         [](Line& l) {
             return result_of(read_setpoint(l, 1, 1),
                              [](const Reading& r) { return reading_text("setpoint", r); });
         }},
        {"start integration (code 1)", "qk42rt integration start",
         [](Line& l) { return acknowledged(int_control(l, 1, 1)); }},
        {"read flow of channel 1, one second later", "qk42rt flow 1",
         [](Line& l) {
             std::this_thread::sleep_for(std::chrono::seconds(1));  // let the flow rise
             return result_of(read_flow(l, 1, 1),
                              [](const Reading& r) { return reading_text("flow", r); });
         }},
        {"read flow of channel 2", "qk42rt flow 2",
         [](Line& l) {
             return result_of(read_flow(l, 1, 2),
                              [](const Reading& r) { return reading_text("flow", r); });
         }},
        {"read integrated flow of channel 1", "qk42rt intflow 1",
         [](Line& l) { return result_of(read_intflow(l, 1, 1), four_bytes_text); }},
        {"read integration time", "qk42rt inttime",
         [](Line& l) { return result_of(read_inttime(l, 1), four_bytes_text); }},
        {"stop integration (code 2)", "qk42rt integration stop",
         [](Line& l) { return acknowledged(int_control(l, 1, 2)); }},
        {"set ratio/total to channel 2, value 165, channels 3 and 4",
         "qk42rt ratio-total 2 165 3 4",
         [](Line& l) {
             return acknowledged(set_ratio_total(l, 1, {2, 165, 3, 4}));
         }},
        {"read ratio/total", "qk42rt ratio-total",
         [](Line& l) {
             return result_of(read_ratio_total(l, 1), [](const RatioTotal& r) {
                 return "channel " + std::to_string(r.channel) + ", value " +
                        std::to_string(r.value) + ", channels " + std::to_string(r.channel2) +
                        " and " + std::to_string(r.channel3);
             });
         }},
        {"set ratio/total mode 1", "qk42rt ratio-mode 1",
         [](Line& l) { return acknowledged(control_ratio_total(l, 1, 1)); }},
        {"set display flags on, off", "qk42rt display on off",
         [flag](Line& l) {
             return result_of(set_display(l, 1, 1, 0), [flag](Done) {
                 return "answered: flags " + flag(true) + ", " + flag(false);
             });
         }},
        {"lock the keys", "qk42rt keylock on",
         [](Line& l) { return answered(set_key_lock(l, 1, 1)); }},
        {"unlock the keys", "qk42rt keylock off",
         [](Line& l) { return answered(set_key_lock(l, 1, 0)); }},
        {"read flow at address 2, where no instrument listens", "qk42rt --address 2 flow 1",
         [](Line& l) {
             return result_of(read_flow(l, 2, 1),
                              [](const Reading& r) { return reading_text("flow", r); });
         },
         true},
    };
}

}  // namespace

Prepared prepare_demo(const CommandLine&) {
    return {{}, [](std::ostream& out) {
                // A time constant fast enough to see the flow move.
                const DemoSimulator simulator({"--address", "1", "--time-constant", "0.5"});

                std::vector<std::string> exchanges;
                protocol::TraceHook trace = [&exchanges](const protocol::Request& request,
                                                         const protocol::Reply& reply) {
                    exchanges.push_back(hex_bytes(request.view()) + "  ->  " +
                                        (reply.size == 0 ? "(nothing)" : hex_bytes(reply.view())));
                };
                Session session =
                    Session::open(simulator.device(), 1, false, out, std::move(trace));
                out << "Simulated instrument at address 1 on " << simulator.device()
                    << "\nEach step: what it does, the same with this client, then the request"
                       " and reply bytes (hex) and what they mean.\n\n";

                int failures = 0;
                int number = 0;
                for (const Step& step : steps()) {
                    exchanges.clear();
                    const Result result = step.run(session.line());
                    char heading[16];
                    std::snprintf(heading, sizeof heading, "%2d. ", ++number);
                    out << heading << step.title << "   $ " << step.shell << '\n';
                    for (const std::string& exchange : exchanges) {
                        out << "    " << exchange
                            << std::string(exchange.size() < 40 ? 40 - exchange.size() : 1, ' ')
                            << result.text << '\n';
                    }
                    if (result.ok == step.expect_failure) {
                        ++failures;
                        out << "    unexpected: this step should have "
                            << (step.expect_failure ? "failed" : "succeeded") << '\n';
                    }
                }
                out << '\n'
                    << (failures == 0 ? "All operations ran as expected."
                                      : std::to_string(failures) + " step(s) went wrong.")
                    << '\n';
                return failures == 0 ? 0 : 1;
            }};
}

}  // namespace qk42rt::cli

// Fuzzes the simulated host: requests cut from a stream, decoded and answered; its rules reader.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "host/HostSimulator.h"

namespace {

const SimRules& Rules() {
    static const SimRules rules = [] {
        SimRules r;
        std::string why;
        if (!ParseSimRules(R"([{"type":"0200","responseCode":"51","set":{"38":"ABC"},
                              "remove":[35]},{"type":"01","set":{"2":"xyz"}},
                              {"members":{"a":"1"},"setMembers":{"b":"2"},
                               "removeMembers":["c"]}])",
                           r, why)) {
            __builtin_trap();
        }
        return r;
    }();
    return rules;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    for (const SimForm form :
         {SimForm::Auto, SimForm::Iso64, SimForm::Iso128, SimForm::Trade, SimForm::Json}) {
        std::span<const std::uint8_t> rest = input;
        for (int k = 0; k < 4 && !rest.empty(); ++k) {
            const RequestCut cut = CutRequest(rest, form);
            if (cut.kind != RequestCut::Kind::Request) break;
            if (cut.length == 0 || cut.length > rest.size() || cut.form == SimForm::Auto) {
                __builtin_trap();
            }
            const SimExchange x = AnswerRequest(rest.first(cut.length), cut.form, Rules());
            if (!x.error.empty() && !x.reply.empty()) __builtin_trap();
            // An answer is itself a whole request of the same form, by its own length.
            if (x.error.empty() && x.action == SimAction::Answer &&
                x.reply.size() <= kMaxRequestBytes) {
                const RequestCut again = CutRequest(x.reply, cut.form);
                if (again.kind != RequestCut::Kind::Request || again.length != x.reply.size()) {
                    __builtin_trap();
                }
            }
            rest = rest.subspan(cut.length);
        }
    }
    // The same for a table's form, cut by the table's Length part.
    static TableHost table(BuiltinTable(BuiltinForm::kUnionPay64));
    std::span<const std::uint8_t> rest = input;
    for (int k = 0; k < 4 && !rest.empty(); ++k) {
        const RequestCut cut = table.Cut(rest);
        if (cut.kind != RequestCut::Kind::Request) break;
        if (cut.length == 0 || cut.length > rest.size()) __builtin_trap();
        const SimExchange x = table.Answer(rest.first(cut.length), Rules());
        if (!x.error.empty() && !x.reply.empty()) __builtin_trap();
        if (x.error.empty() && x.action == SimAction::Answer) {
            const RequestCut again = table.Cut(x.reply);
            if (again.kind != RequestCut::Kind::Request || again.length != x.reply.size()) {
                __builtin_trap();
            }
        }
        rest = rest.subspan(cut.length);
    }
    SimRules rules;
    std::string why;
    if (!ParseSimRules(std::string_view(reinterpret_cast<const char*>(data), size), rules, why) &&
        why.empty()) {
        __builtin_trap();
    }
    return 0;
}

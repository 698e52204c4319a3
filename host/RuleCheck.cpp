// Rules checked at start against the form they answer in: a rule that can never apply is refused.
#include <string>
#include <vector>

#include "codec/Message.h"
#include "host/AnswerSteps.h"
#include "host/HostSimulator.h"

namespace {

constexpr int kResponseCodeField = 39;
constexpr std::size_t kResponseCodeChars = 2;

/// The form rules are checked against: its table, and whether "set" may give field 0.
struct FormFields {
    const FieldTable* table = nullptr;
    bool typeSettable = false;

    [[nodiscard]] bool defined(int f) const {
        return f >= 0 && static_cast<std::size_t>(f) < table->fields.size() &&
               table->fields[static_cast<std::size_t>(f)].Defined();
    }
    /// Whether the text fits field f as an answer stores it; why (not naming the field) if not.
    [[nodiscard]] bool encode(int f, std::string_view text, std::string& why) const {
        std::vector<std::uint8_t> stored;
        const EncodeStatus st = EncodeFieldText(table->fields[static_cast<std::size_t>(f)], f,
                                                text, kRuleTextRules, stored);
        const std::string who = "field " + std::to_string(f) + ": ";
        why = st.reason.starts_with(who) ? st.reason.substr(who.size()) : st.reason;
        return st.ok;
    }
};

FormFields FieldsOf(SimForm form, const FieldTable* table) {
    switch (form) {
        case SimForm::Iso128:
            return {&BuiltinTable(BuiltinForm::kUnionPay128), false};
        case SimForm::Trade:
            return {&BuiltinTable(BuiltinForm::kTrade), false};
        case SimForm::Table:
            if (table != nullptr) return {table, true};
            break;
        case SimForm::Auto:
        case SimForm::Iso64:
        case SimForm::Json:
            break;
    }
    return {&BuiltinTable(BuiltinForm::kUnionPay64), false};
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

/// The problems of one rule (named by at) in an ISO 8583 form.
void CheckFieldRule(const SimRule& r, const std::string& at, const FormFields& form,
                    std::vector<std::string>& out) {
    std::string why;
    if (!r.members.empty() || !r.setMembers.empty() || !r.removeMembers.empty()) {
        out.push_back(at + ": \"members\", \"setMembers\" and \"removeMembers\" apply to JSON "
                           "packets (--json) only");
    }
    const std::string field39 = at + ", field " + std::to_string(kResponseCodeField) + ": ";
    if (!r.responseCode.empty()) {
        if (r.responseCode.size() != kResponseCodeChars) {
            out.push_back(field39 + "the response code " + Quoted(r.responseCode) +
                          " is not 2 characters");
        } else if (!form.defined(kResponseCodeField)) {
            out.push_back(field39 + "the form has no field 39 for the response code");
        } else if (!form.encode(kResponseCodeField, r.responseCode, why)) {
            out.push_back(field39 + "the response code " + Quoted(r.responseCode) + ": " + why);
        }
    }
    for (const auto& [f, text] : r.fields) {
        const std::string place = at + ", field " + std::to_string(f) + ": ";
        if (!form.defined(f)) {
            out.push_back(place + "the form does not define this field, so the rule never matches");
        } else if (!form.encode(f, text, why)) {
            out.push_back(place + Quoted(text) + " never matches: " + why);
        }
    }
    for (const auto& [f, text] : r.set) {
        const std::string place = at + ", set field " + std::to_string(f) + ": ";
        if (f == 1 || (f == 0 && !form.typeSettable)) {
            out.push_back(place + "not a data field");
        } else if (!form.defined(f)) {
            out.push_back(place + "the form does not define this field");
        } else if (!form.encode(f, text, why)) {
            out.push_back(place + Quoted(text) + ": " + why);
        }
    }
    for (const int f : r.remove) {
        if (!form.defined(f)) {
            out.push_back(at + ", remove field " + std::to_string(f) +
                          ": the form does not define this field");
        }
    }
}

}  // namespace

std::vector<std::string> CheckSimRules(const SimRules& rules, SimForm form,
                                       const FieldTable* table) {
    std::vector<std::string> problems;
    const FormFields main = FieldsOf(form == SimForm::Auto ? SimForm::Iso64 : form, table);
    const FormFields wide = FieldsOf(SimForm::Iso128, nullptr);
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const SimRule& r = rules[i];
        const std::string at = "rule " + std::to_string(i + 1);
        if (form == SimForm::Json) {
            if (!r.fields.empty() || !r.set.empty() || !r.remove.empty()) {
                problems.push_back(at + ": \"fields\", \"set\" and \"remove\" apply to ISO 8583 "
                                        "forms; JSON packets use \"members\"");
            }
            continue;
        }
        std::vector<std::string> found;
        CheckFieldRule(r, at, main, found);
        if (form == SimForm::Auto && !found.empty()) {
            // Either form may come: the rule stands when it applies in the other one.
            std::vector<std::string> other;
            CheckFieldRule(r, at, wide, other);
            if (other.empty()) continue;
            for (std::string& p : found) p += " (64 fields)";
            for (std::string& p : other) found.push_back(p + " (128 fields)");
        }
        problems.insert(problems.end(), found.begin(), found.end());
    }
    return problems;
}

bool AnswersCarryResponseCode(SimForm form, const FieldTable* table) {
    if (form == SimForm::Json) return true;
    if (form == SimForm::Auto) return true;  // both built-in ISO 8583 forms define field 39
    return FieldsOf(form, table).defined(kResponseCodeField);
}

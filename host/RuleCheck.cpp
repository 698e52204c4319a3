// Rules checked at start against the form they answer in: a rule that can never apply is refused.
#include <functional>
#include <string>
#include <vector>

#include "codec/PosPack.h"
#include "codec/PosPackExt.h"
#include "host/HostSimulator.h"
#include "trade/Trade.h"

namespace {

constexpr int kResponseCodeField = 39;
constexpr std::size_t kResponseCodeChars = 2;

/// How a form stores field values: which fields it defines, and how it encodes a value text.
struct FormFields {
    std::function<bool(int f)> defined;
    std::function<bool(int f, std::string_view text, std::string& why)> encode;
    bool typeSettable = false;  // "set" may give field 0, the message type
};

template <typename Attrs>
FormFields BuiltinFields(const Attrs& attrs) {
    const std::vector<FieldAttr> a(std::begin(attrs), std::end(attrs));
    FormFields form;
    form.defined = [a](int f) {
        return f >= 0 && static_cast<std::size_t>(f) < a.size() &&
               a[static_cast<std::size_t>(f)].maxLen > 0;
    };
    form.encode = [a](int f, std::string_view text, std::string& why) {
        std::vector<std::uint8_t> wire;
        return EncodeFieldText(a[static_cast<std::size_t>(f)], text, wire, why);
    };
    return form;
}

FormFields FieldsOf(SimForm form, const FieldTable* table) {
    switch (form) {
        case SimForm::Iso128: {
            const CCupPosPackExt pack;
            return BuiltinFields(pack.m_attr);
        }
        case SimForm::Trade: {
            const CWebTrade trade;
            return BuiltinFields(trade.m_attr);
        }
        case SimForm::Table:
            if (table != nullptr) {
                FormFields fields;
                fields.defined = [table](int f) {
                    return f >= 0 && static_cast<std::size_t>(f) < table->fields.size() &&
                           table->fields[static_cast<std::size_t>(f)].Defined();
                };
                fields.encode = [table](int f, std::string_view text, std::string& why) {
                    return TableHost::EncodeField(*table, f, text, why);
                };
                fields.typeSettable = true;
                return fields;
            }
            break;
        case SimForm::Auto:
        case SimForm::Iso64:
        case SimForm::Json:
            break;
    }
    const CCupPosPack pack;
    return BuiltinFields(pack.m_attr);
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

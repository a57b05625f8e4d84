#include "cloudflare/reconciliation_plan.hpp"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

#include "cloudflare/mx_content.hpp"
#include "cloudflare/record_name.hpp"
#include "cloudflare/txt_content.hpp"

namespace {

// What a listed record of the wanted name is to the wanted record.
enum class Seen {
    match,      // the wanted type and content (MX: host; TXT: its strings), and when present, its proxied flag
    differs,    // the wanted type, but not a match
    conflict,   // a CNAME where A or AAAA is wanted, or the reverse: one name cannot hold both
    unrelated,  // any other type, A beside AAAA among them
};

enum class Flag { no, yes, any };
enum class Kind { txt, mx, any_type };  // of the wanted type

// What the row does with the record.
enum class Move { skip, drop, drop_then_create, update, create, listing, found };

// What the row leaves of the scan.
enum class Then {
    scan_on,       // later records decide
    unless_match,  // the row's step stands unless a later record of the name and type matches
    settles,       // nothing later changes the plan
};

struct DecisionRow {
    Seen seen;
    Flag present;
    Flag replace;
    Kind type;
    Flag same_priority;  // of a differing MX record and the wanted one
    StepTrace trace;
    Move move;
    Then then;
};

using enum Seen;
using enum Flag;
using enum Kind;
using enum Move;
using enum Then;

// The first row that fits a listed record of the wanted name says what it
// means: "present" and "replace" are the call's flags, "type" the wanted type.
constexpr DecisionRow kDecisionTable[] = {
    // seen     present  replace  type      priority  trace                    move              then
    {match,     no,      any,     any_type, any,      StepTrace::found_delete, drop,             settles},
    {match,     yes,     any,     any_type, any,      StepTrace::none,         listing,          settles},
    {differs,   any,     yes,     txt,      any,      StepTrace::differs,      drop,             scan_on},
    {differs,   no,      any,     any_type, any,      StepTrace::none,         skip,             scan_on},
    {differs,   yes,     yes,     any_type, any,      StepTrace::differs,      update,           unless_match},
    {differs,   yes,     no,      txt,      any,      StepTrace::differs,      create,           unless_match},
    {differs,   yes,     no,      mx,       yes,      StepTrace::differs,      found,            settles},
    {differs,   yes,     no,      mx,       no,       StepTrace::differs,      create,           unless_match},
    {differs,   yes,     no,      any_type, any,      StepTrace::differs,      update,           unless_match},
    {conflict,  yes,     any,     any_type, any,      StepTrace::conflict,     drop_then_create, settles},
    {conflict,  no,      any,     any_type, any,      StepTrace::none,         skip,             scan_on},
    {unrelated, any,     any,     any_type, any,      StepTrace::none,         skip,             scan_on},
};

bool fits(Flag flag, bool value) { return flag == any || (flag == yes) == value; }

bool fits(Kind kind, std::string_view type) {
    return kind == any_type || (kind == txt && type == "TXT") || (kind == mx && type == "MX");
}

// The step a move takes on its record; a conflict's create follows on its own.
Action action_of(Move move) {
    switch (move) {
        case drop:
        case drop_then_create:
            return Action::remove;
        case update:
            return Action::update;
        case create:
            return Action::create;
        case listing:
            return Action::return_listing;
        case found:
        case skip:  // takes no step: never asked
            break;
    }
    return Action::return_found;
}

bool address_type(std::string_view type) { return type == "A" || type == "AAAA"; }

bool conflicting_types(std::string_view a, std::string_view b) {
    return (a == "CNAME" && address_type(b)) || (address_type(a) && b == "CNAME");
}

}  // namespace

ReconciliationPlanner::ReconciliationPlanner(WantedRecord wanted, EnsureFlags flags, std::string_view zone)
    : wanted_(std::move(wanted)), flags_(flags), canonical_zone_(canonical_zone_name(zone)) {
    canonical_name_ = canonical_record_name(wanted_.name, canonical_zone_);
    if (wanted_.type == "MX") {
        MxContent mx = split_mx_content(wanted_.content);
        mx_host_ = std::move(mx.host);
        mx_priority_ = mx.priority;
    } else if (wanted_.type == "TXT") {
        txt_value_ = txt_value(wanted_.content);
    }
}

void ReconciliationPlanner::consider(const ListedRecord& record) {
    if (settled_ || canonical_record_name(record.name, canonical_zone_) != canonical_name_) return;
    Seen seen = unrelated;
    if (record.type == wanted_.type) {
        bool matches;
        if (wanted_.type == "MX") {
            matches = record.content == mx_host_;
        } else if (wanted_.type == "TXT") {
            matches = txt_value(record.content) == txt_value_;
        } else {
            matches = record.content == wanted_.content;
        }
        // Asked for absence, a record of the wanted content goes whatever its proxied flag.
        seen = matches && (!flags_.present || record.proxied == wanted_.proxied) ? match : differs;
    } else if (conflicting_types(record.type, wanted_.type)) {
        seen = conflict;
    }
    // A step left waiting gives way to a match only.
    if (waiting_ && seen != match) return;

    const auto row = std::find_if(std::begin(kDecisionTable), std::end(kDecisionTable), [&](const DecisionRow& r) {
        return r.seen == seen && fits(r.present, flags_.present) && fits(r.replace, flags_.replace) &&
               fits(r.type, wanted_.type) && fits(r.same_priority, record.priority == mx_priority_);
    });
    if (row == std::end(kDecisionTable) || row->move == skip) return;
    Plan steps{{action_of(row->move), row->trace, record}};
    if (row->move == drop_then_create) steps.push_back({Action::create});
    if (row->then == unless_match) {
        waiting_ = std::move(steps.front());
        return;
    }
    waiting_.reset();
    std::move(steps.begin(), steps.end(), std::back_inserter(steps_));
    settled_ = row->then == settles;
}

Plan ReconciliationPlanner::finish(bool zone_empty) && {
    if (!settled_) {
        if (waiting_) {
            steps_.push_back(std::move(*waiting_));
        } else if (flags_.present) {
            steps_.push_back({Action::create});
        } else {
            steps_.push_back({Action::return_not_found, StepTrace::none, {},
                              zone_empty ? NotFound::empty_zone : NotFound::scan_end});
        }
    }
    return std::move(steps_);
}

Plan plan_reconciliation(const WantedRecord& wanted, EnsureFlags flags, std::string_view zone,
                         const std::vector<ListedRecord>& records, bool zone_empty) {
    ReconciliationPlanner planner(wanted, flags, zone);
    for (const ListedRecord& record : records) planner.consider(record);
    return std::move(planner).finish(zone_empty);
}

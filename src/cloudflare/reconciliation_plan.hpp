// The decision of dns_ensured_record as data: from the wanted record and the
// listed ones, in listing order, the steps that bring the zone into the wanted
// state. Pure: no request, no interpreter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cloudflare/listed_records.hpp"

struct WantedRecord {
    std::string type;
    std::string name;     // as the script gave it: sent so, compared in canonical form
    std::string content;  // for "MX" a host and a priority joined by "|"
    bool proxied = false;  // always false for "TXT"
    std::int32_t ttl = 1;
};

struct EnsureFlags {
    bool present = true;  // the wanted record is to exist; false: an exact match is to go
    bool replace = true;  // update a differing record in place; "TXT": delete the other values
};

enum class Action {
    remove,            // delete `record`
    update,            // write the wanted record over `record`
    create,            // create the wanted record
    return_listing,    // return the listing page that holds `record`, unchanged
    return_found,      // return the "Record found" pair of `record`
    return_not_found,  // return the ("404", ...) pair
};

// The trace line written before the step, naming `record`.
enum class StepTrace { none, found_delete, differs, conflict };

enum class NotFound { empty_zone, scan_end };

struct PlanStep {
    Action action;
    StepTrace trace = StepTrace::none;
    ListedRecord record{};  // the listed record the step acts on or names; empty for create and not-found
    NotFound not_found = NotFound::scan_end;

    bool operator==(const PlanStep&) const = default;
};

// Every step but the last is a delete whose answer is not the caller's; the
// last one gives the method's result.
using Plan = std::vector<PlanStep>;

// Fed the listed records one by one, in listing order. The decision table
// (reconciliation_plan.cpp) says what each record of the wanted name means;
// records of other names are skipped.
class ReconciliationPlanner {
public:
    // `zone` is the domain of the zone, as the script gave it; names compare
    // in the canonical form the service stores them in.
    ReconciliationPlanner(WantedRecord wanted, EnsureFlags flags, std::string_view zone);

    void consider(const ListedRecord& record);
    // True once no later record can change the plan: a match or a conflict
    // decided. A differing record that would be updated or created beside is
    // not final, since a later record of the name and type may match it.
    bool settled() const { return settled_; }
    // The plan. When no record decided it ends in the step a differing record
    // left waiting, or else in a create or a not-found (`zone_empty`: the zone
    // has no records at all).
    Plan finish(bool zone_empty) &&;

private:
    WantedRecord wanted_;
    EnsureFlags flags_;
    std::string canonical_zone_;
    std::string canonical_name_;
    std::string mx_host_;           // of the wanted content, for "MX"
    std::int32_t mx_priority_ = 0;  // likewise
    std::string txt_value_;         // of the wanted content, for "TXT"
    Plan steps_;
    std::optional<PlanStep> waiting_;  // a differing record's step, until a match or the end of the listing
    bool settled_ = false;
};

Plan plan_reconciliation(const WantedRecord& wanted, EnsureFlags flags, std::string_view zone,
                         const std::vector<ListedRecord>& records, bool zone_empty);

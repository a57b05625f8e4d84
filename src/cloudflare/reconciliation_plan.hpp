// The decision of dns_ensured_record as data: from the wanted record and the
// listed ones, in listing order, the steps that bring the zone into the wanted
// state. Pure: no request, no interpreter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cloudflare/listed_records.hpp"

struct WantedRecord {
    std::string type;
    std::string name;
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
    update,            // put the wanted record in place of `record`
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

// Fed the listed records one by one, in listing order; the first record of the
// wanted name that decides ends the scan, and later records are not looked at.
class ReconciliationPlanner {
public:
    ReconciliationPlanner(WantedRecord wanted, EnsureFlags flags);

    void consider(const ListedRecord& record);
    bool decided() const { return decided_; }
    // The plan; when no record decided, it ends in a create or a not-found
    // (`zone_empty`: the listing had no records at all).
    Plan finish(bool zone_empty) &&;

private:
    void settle_differing(const ListedRecord& record);

    WantedRecord wanted_;
    EnsureFlags flags_;
    std::string mx_host_;           // of the wanted content, for "MX"
    std::int32_t mx_priority_ = 0;  // likewise
    std::string txt_value_;         // of the wanted content, for "TXT"
    Plan steps_;
    bool decided_ = false;
};

Plan plan_reconciliation(const WantedRecord& wanted, EnsureFlags flags, const std::vector<ListedRecord>& records,
                         bool zone_empty);

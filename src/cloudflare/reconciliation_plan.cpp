#include "cloudflare/reconciliation_plan.hpp"

#include <string_view>
#include <utility>

#include "cloudflare/mx_content.hpp"
#include "cloudflare/txt_content.hpp"

namespace {

// A, AAAA and CNAME records of one name exclude each other.
bool is_exclusive_type(std::string_view type) { return type == "A" || type == "AAAA" || type == "CNAME"; }

}  // namespace

ReconciliationPlanner::ReconciliationPlanner(WantedRecord wanted, EnsureFlags flags)
    : wanted_(std::move(wanted)), flags_(flags) {
    if (wanted_.type == "MX") {
        MxContent mx = split_mx_content(wanted_.content);
        mx_host_ = std::move(mx.host);
        mx_priority_ = mx.priority;
    } else if (wanted_.type == "TXT") {
        txt_value_ = txt_value(wanted_.content);
    }
}

void ReconciliationPlanner::consider(const ListedRecord& record) {
    if (decided_ || record.name != wanted_.name) return;
    if (record.type == wanted_.type) {
        // MX records match on the host alone; TXT contents as the strings they stand for.
        bool matches;
        if (wanted_.type == "MX") {
            matches = record.content == mx_host_;
        } else if (wanted_.type == "TXT") {
            matches = txt_value(record.content) == txt_value_;
        } else {
            matches = record.content == wanted_.content;
        }
        if (matches && !flags_.present) {
            steps_.push_back({Action::remove, StepTrace::found_delete, record});
            decided_ = true;
        } else if (matches && record.proxied == wanted_.proxied) {
            steps_.push_back({Action::return_listing, StepTrace::none, record});
            decided_ = true;
        } else if (flags_.present || (flags_.replace && wanted_.type == "TXT")) {
            // Asked for absence, a different record of the name is left alone,
            // except the other values of a TXT name under replace.
            settle_differing(record);
        }
        return;
    }
    // Absence of the wanted record does not touch another one.
    if (flags_.present && is_exclusive_type(record.type) && is_exclusive_type(wanted_.type)) {
        steps_.push_back({Action::remove, StepTrace::conflict, record});
        steps_.push_back({Action::create});
        decided_ = true;
    }
}

// A record of the wanted name and type whose content or proxied flag is not the wanted one.
void ReconciliationPlanner::settle_differing(const ListedRecord& record) {
    const bool txt = wanted_.type == "TXT";
    if (flags_.replace && txt) {
        steps_.push_back({Action::remove, StepTrace::differs, record});  // and the scan goes on
        return;
    }
    decided_ = true;
    if (!flags_.replace && wanted_.type == "MX" && record.priority == mx_priority_) {
        steps_.push_back({Action::return_found, StepTrace::differs, record});
    } else if (!flags_.replace && (txt || wanted_.type == "MX")) {
        steps_.push_back({Action::create, StepTrace::differs, record});
    } else {
        steps_.push_back({Action::update, StepTrace::differs, record});
    }
}

Plan ReconciliationPlanner::finish(bool zone_empty) && {
    if (!decided_) {
        if (flags_.present) {
            steps_.push_back({Action::create});
        } else {
            steps_.push_back({Action::return_not_found, StepTrace::none, {},
                              zone_empty ? NotFound::empty_zone : NotFound::scan_end});
        }
    }
    return std::move(steps_);
}

Plan plan_reconciliation(const WantedRecord& wanted, EnsureFlags flags, const std::vector<ListedRecord>& records,
                         bool zone_empty) {
    ReconciliationPlanner planner(wanted, flags);
    for (const ListedRecord& record : records) planner.consider(record);
    return std::move(planner).finish(zone_empty);
}

// dns_ensured_record: brings one DNS record into the wanted state in one call.
// The records of the wanted name are listed page by page and planned as they
// come; once the plan is final it is performed. No interpreter object lives
// across a request: a thread ended while it waits (at interpreter shutdown)
// unwinds through plain C++ values.
#include <optional>
#include <string>
#include <utility>

#include "cloudflare/call_snapshot.hpp"
#include "cloudflare/dns_records.hpp"
#include "cloudflare/listed_records.hpp"
#include "cloudflare/reconciliation_plan.hpp"
#include "cloudflare/record_body.hpp"
#include "cloudflare/record_name.hpp"
#include "cloudflare/request.hpp"
#include "cloudflare/zone_errors.hpp"
#include "cloudflare/zone_path.hpp"
#include "common/trace_writer.hpp"

namespace {

struct FetchedPage {
    HttpResult response;
    ListingPage page;
};

// One page of a record listing. Null with an exception set when memory runs
// out or a signal handler raised (Ctrl-C).
std::optional<FetchedPage> fetch_page(const CloudflareCall& call, const std::string& suffix) {
    std::optional<HttpResult> response = request(call, "GET", zone_scoped_path(call.zone_id, suffix), std::nullopt);
    if (!response) return std::nullopt;
    std::optional<std::string> text = lenient_utf8(response->body);
    if (!text) return std::nullopt;
    ListingPage page = read_listing_page(text->c_str());
    return FetchedPage{std::move(*response), std::move(page)};
}

struct ReadListing {
    std::optional<HttpResult> unscannable;  // a page without a "result" array: the call's result, unchanged
    Plan plan;
    std::optional<HttpResult> deciding_page;  // the page of the record that settled the plan; no other is kept
};

// Lists the records of the wanted name only, so the cost does not grow with
// the zone, and plans over them as they arrive. A further page is read only
// while the plan can still change. An empty listing with `present` false
// takes one more request, of one record of the whole zone, to tell an empty
// zone from one without the name. Null with an exception set when memory runs
// out or a signal handler raised (Ctrl-C).
std::optional<ReadListing> read_listing(const CloudflareCall& call, const WantedRecord& wanted, EnsureFlags flags,
                                        std::string_view domain) {
    ReconciliationPlanner planner(wanted, flags, domain);
    std::optional<std::string> name =
        escaped_query_value(canonical_record_name(wanted.name, canonical_zone_name(domain)));
    if (!name) return std::nullopt;
    const std::string listing = "/dns_records?name=" + *name;
    ReadListing read;
    std::size_t listed = 0;
    std::int64_t pages = 1;
    for (std::int64_t number = 1; number <= pages && !planner.settled(); ++number) {
        std::optional<FetchedPage> fetched =
            fetch_page(call, number == 1 ? listing : listing + "&page=" + std::to_string(number));
        if (!fetched) return std::nullopt;
        if (!fetched->page.scannable) {
            read.unscannable = std::move(fetched->response);
            return read;
        }
        if (number == 1) pages = fetched->page.announced_pages;
        listed += fetched->page.listed;
        for (const ListedRecord& record : fetched->page.records) planner.consider(record);
        if (planner.settled()) read.deciding_page = std::move(fetched->response);
    }
    bool zone_empty = false;
    if (!flags.present && listed == 0) {
        std::optional<FetchedPage> probe = fetch_page(call, "/dns_records?per_page=1");
        if (!probe) return std::nullopt;
        if (!probe->page.scannable) {
            read.unscannable = std::move(probe->response);
            return read;
        }
        zone_empty = probe->page.listed == 0;
    }
    read.plan = std::move(planner).finish(zone_empty);
    return read;
}

void trace_step(const PlanStep& step) {
    const char* label = nullptr;
    switch (step.trace) {
        case StepTrace::none:
            return;
        case StepTrace::found_delete:
            label = "record found delete";
            break;
        case StepTrace::differs:
            label = "record found content or proxy not the same";
            break;
        case StepTrace::conflict:
            label = "record found";
            break;
    }
    const ListedRecord& r = step.record;
    debug("%s: %s %s, %s, %s, %d\n", label, r.id.c_str(), r.name.c_str(), r.type.c_str(), r.content.c_str(),
          r.proxied ? 1 : 0);
}

// What the last step of the plan leaves for the script.
struct Outcome {
    Action action = Action::return_not_found;
    HttpResult response;  // of the last write, or the deciding listing page
    ListedRecord record;  // return_found
    NotFound not_found = NotFound::scan_end;
    bool deleted = false;  // a delete was performed
};

// Performs the plan's steps in order; the answers of all but the last are not the caller's.
std::optional<Outcome> perform_plan(const CloudflareCall& call, const WantedRecord& wanted, ReadListing& read) {
    std::optional<std::string> body;  // of the wanted record, made before anything is sent
    for (const PlanStep& step : read.plan) {
        if (step.action == Action::create || step.action == Action::update) {
            body = record_body({wanted.type, wanted.name, wanted.content, wanted.proxied, wanted.ttl});
            if (!body) return std::nullopt;
            break;
        }
    }
    Outcome outcome;
    for (const PlanStep& step : read.plan) {
        trace_step(step);
        outcome.action = step.action;
        std::optional<HttpResult> written;
        switch (step.action) {
            case Action::remove:
                written = request(call, "DELETE", record_path(call.zone_id, step.record.id), std::nullopt);
                break;
            case Action::update:
                // PATCH, not PUT: the record's comment, tags and settings are not the call's to erase.
                written = request(call, "PATCH", record_path(call.zone_id, step.record.id), body);
                break;
            case Action::create:
                written = request(call, "POST", zone_scoped_path(call.zone_id, "/dns_records"), body);
                break;
            case Action::return_listing:
            case Action::return_found:
                outcome.response = std::move(*read.deciding_page);
                outcome.record = step.record;
                break;
            case Action::return_not_found:
                outcome.not_found = step.not_found;
                continue;
        }
        if (step.action == Action::remove || step.action == Action::update || step.action == Action::create) {
            if (!written) return std::nullopt;  // interrupted: the rest of the plan is not performed
            outcome.response = std::move(*written);
            outcome.deleted = outcome.deleted || step.action == Action::remove;
        }
    }
    return outcome;
}

// The script's result: a response tuple, the found pair or the not-found pair.
PyObject* result_of(const Outcome& outcome, const WantedRecord& w) {
    if (outcome.action == Action::return_not_found) {
        const char* format = outcome.not_found == NotFound::empty_zone
                                 ? "Record not found: %s, %s, %s, %d"
                                 : "Nothing to do, Record not found: %s, %s, %s, %d";
        qov::Ref message = qov::Ref::steal(
            PyUnicode_FromFormat(format, w.name.c_str(), w.type.c_str(), w.content.c_str(), w.proxied ? 1 : 0));
        const qov::Ref status = qov::Ref::steal(PyUnicode_FromString("404"));
        return response_tuple(status.get(), message.get(), outcome.deleted ? "deleted" : "absent").release();
    }
    if (outcome.action == Action::return_found) {
        const ListedRecord& r = outcome.record;
        qov::Ref message = qov::Ref::steal(PyUnicode_FromFormat(
            "Record found: %s %s, %s, %s, %d %d", r.id.c_str(), r.name.c_str(), r.type.c_str(), r.content.c_str(),
            r.proxied ? 1 : 0, static_cast<int>(r.priority)));
        const qov::Ref status = qov::Ref::steal(PyLong_FromLong(shown_status(outcome.response)));
        return response_tuple(status.get(), message.get(), outcome.deleted ? "deleted" : "unchanged").release();
    }
    // What the call wrote: a create may follow deletions; the listing comes back as it was.
    const char* action = outcome.action == Action::create   ? "created"
                         : outcome.action == Action::update ? "updated"
                         : outcome.deleted                  ? "deleted"
                                                            : "unchanged";
    return response_tuple(outcome.response, action).release();
}

// A flag given as any object the interpreter can read as an integer; omitted means true.
bool read_flag(PyObject* given, bool& flag) {
    flag = true;
    if (given == nullptr) return true;
    const long value = PyLong_AsLong(given);
    if (value == -1 && PyErr_Occurred()) return false;
    flag = value != 0;
    return true;
}

}  // namespace

PyObject* Cloudflare_ensure_dns_record(PyObject* object, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"domain", "type", "name", "content", "proxied", "ttl", "present", "replace",
                                   nullptr};
    const char *domain = nullptr, *type = nullptr, *name = nullptr, *content = nullptr;
    int proxied = 0, ttl = 0;
    PyObject *present_flag = nullptr, *replace_flag = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "sssspi|OO:dns_ensured_record", const_cast<char**>(kwlist),
                                     &domain, &type, &name, &content, &proxied, &ttl, &present_flag,
                                     &replace_flag)) {
        return nullptr;
    }
    CloudflareObject* self = as_cloudflare(object);
    if (!has_zone_id(self)) return raise_no_zone();
    EnsureFlags flags;
    if (!read_flag(present_flag, flags.present) || !read_flag(replace_flag, flags.replace)) return nullptr;

    WantedRecord wanted{type, name, content, proxied != 0, ttl};
    if (wanted.type == "TXT") wanted.proxied = false;  // TXT records cannot be proxied

    std::optional<CloudflareCall> call = listing_call(self, domain);
    if (!call) {
        // A failed zone lookup reads as an unknown domain; errors in the instance's own fields stand.
        if (PyErr_ExceptionMatches(PyExc_TypeError)) raise_zone_not_found(domain);
        return nullptr;
    }
    std::optional<ReadListing> read = read_listing(*call, wanted, flags, domain);
    if (!read) return nullptr;
    if (read->unscannable) return response_tuple(*read->unscannable, "unchanged").release();
    std::optional<Outcome> outcome = perform_plan(*call, wanted, *read);
    if (!outcome) return nullptr;
    return result_of(*outcome, wanted);
}

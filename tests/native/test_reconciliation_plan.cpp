// The decision of dns_ensured_record as a table: wanted record, flags and
// listed records in, the planned steps out. Also canonical record names, the
// TXT character-string rule and the reading of one listing page.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cloudflare/listed_records.hpp"
#include "cloudflare/reconciliation_plan.hpp"
#include "cloudflare/record_name.hpp"
#include "cloudflare/txt_content.hpp"

namespace {

constexpr const char* Z = "example.com";
constexpr const char* H = "h.example.com";

ListedRecord listed(const char* id, const char* type, const char* content, bool proxied = false,
                    std::int32_t priority = 0, const char* name = H) {
    return {id, name, type, content, proxied, priority};
}

// A step as the table writes it: the action, the trace line before it, and
// the id of the listed record it acts on or names ("" for none).
struct Expected {
    Action action;
    StepTrace trace = StepTrace::none;
    std::string id{};
    NotFound not_found = NotFound::scan_end;

    bool operator==(const Expected&) const = default;
};

const Expected kCreate{Action::create};
const Expected kNotFound{Action::return_not_found};
const Expected kEmptyZone{Action::return_not_found, StepTrace::none, "", NotFound::empty_zone};
Expected listing(const char* id) { return {Action::return_listing, StepTrace::none, id}; }
Expected found(const char* id) { return {Action::return_found, StepTrace::differs, id}; }
Expected delete_match(const char* id) { return {Action::remove, StepTrace::found_delete, id}; }
Expected delete_differing(const char* id) { return {Action::remove, StepTrace::differs, id}; }
Expected delete_conflict(const char* id) { return {Action::remove, StepTrace::conflict, id}; }
Expected update(const char* id) { return {Action::update, StepTrace::differs, id}; }
Expected create_beside(const char* id) { return {Action::create, StepTrace::differs, id}; }

struct PlanCase {
    const char* title;
    WantedRecord wanted;
    EnsureFlags flags;
    std::vector<ListedRecord> records;
    std::vector<Expected> expected;
};

void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.title; }

constexpr EnsureFlags kPresent{true, true};
constexpr EnsureFlags kPresentKeep{true, false};
constexpr EnsureFlags kAbsent{false, true};
constexpr EnsureFlags kAbsentKeep{false, false};

WantedRecord want(const char* type, const char* content, bool proxied = false, const char* name = H) {
    return {type, name, content, proxied, 300};
}

const PlanCase kPlanCases[] = {
    {"empty zone, present: create", want("A", "192.0.2.1"), kPresent, {}, {kCreate}},
    {"empty zone, absent: the empty-zone message", want("A", "192.0.2.1"), kAbsent, {}, {kEmptyZone}},
    {"the wanted record is there: the listing", want("A", "192.0.2.1"), kPresent,
     {listed("r1", "A", "192.0.2.1")}, {listing("r1")}},
    {"absent: the exact match is deleted", want("A", "192.0.2.2"), kAbsent,
     {listed("r1", "A", "192.0.2.1"), listed("r2", "A", "192.0.2.2")}, {delete_match("r2")}},
    {"other content, replace: updated", want("A", "192.0.2.9"), kPresent, {listed("r1", "A", "192.0.2.1")},
     {update("r1")}},
    {"other content, keep: A is still updated", want("A", "192.0.2.9"), kPresentKeep,
     {listed("r1", "A", "192.0.2.1")}, {update("r1")}},
    {"proxied alone differs: updated", want("A", "192.0.2.1", false), kPresent,
     {listed("r1", "A", "192.0.2.1", true)}, {update("r1")}},
    {"other names are skipped", want("A", "192.0.2.1"), kPresent,
     {listed("r1", "A", "192.0.2.9", false, 0, "other.example.com"), listed("r2", "A", "192.0.2.1")},
     {listing("r2")}},
    // Names compare as the service stores them: lower case, no trailing dot, relative to the zone.
    {"a name in other letter case is the record", want("A", "192.0.2.1"), kPresent,
     {listed("r1", "A", "192.0.2.1", false, 0, "H.Example.COM")}, {listing("r1")}},
    {"a wanted name in capitals with a trailing dot", want("A", "192.0.2.1", false, "H.EXAMPLE.com."), kPresent,
     {listed("r1", "A", "192.0.2.1")}, {listing("r1")}},
    {"a relative wanted name", want("A", "192.0.2.1", false, "h"), kPresent, {listed("r1", "A", "192.0.2.1")},
     {listing("r1")}},
    {"@ is the apex", want("A", "192.0.2.1", false, "@"), kPresent,
     {listed("r1", "A", "192.0.2.1", false, 0, H), listed("r2", "A", "192.0.2.1", false, 0, Z)}, {listing("r2")}},
    {"a name beyond ASCII compares as given", want("A", "192.0.2.1", false, "\xc3\xa9.example.com"), kPresent,
     {listed("r1", "A", "192.0.2.1", false, 0, "\xc3\x89.example.com")}, {kCreate}},
    // A match decides before a record that differs, wherever it is listed.
    {"replace: a match after a differing A", want("A", "192.0.2.2"), kPresent,
     {listed("r1", "A", "192.0.2.1"), listed("r2", "A", "192.0.2.2")}, {listing("r2")}},
    {"keep: a match after a differing A", want("A", "192.0.2.2"), kPresentKeep,
     {listed("r1", "A", "192.0.2.1"), listed("r2", "A", "192.0.2.2")}, {listing("r2")}},
    {"a match of content with another proxied does not decide", want("A", "192.0.2.2"), kPresent,
     {listed("r1", "A", "192.0.2.1"), listed("r2", "A", "192.0.2.2", true)}, {update("r1")}},
    {"a conflict after a differing record does not decide", want("A", "192.0.2.2"), kPresent,
     {listed("r1", "A", "192.0.2.1"), listed("r2", "CNAME", "x.example.com")}, {update("r1")}},
    {"keep: a TXT match after another value", want("TXT", "v"), kPresentKeep,
     {listed("r1", "TXT", "u"), listed("r2", "TXT", "\"v\"")}, {listing("r2")}},
    {"keep: an MX match after another host", want("MX", "mail.example.com|20"), kPresentKeep,
     {listed("r1", "MX", "other.example.com", false, 30), listed("r2", "MX", "mail.example.com", false, 10)},
     {listing("r2")}},
    {"keep: an MX of the same priority decides before a later match", want("MX", "mail.example.com|20"),
     kPresentKeep,
     {listed("r1", "MX", "other.example.com", false, 20), listed("r2", "MX", "mail.example.com", false, 20)},
     {found("r1")}},
    {"absent: a differing record stays", want("A", "192.0.2.9"), kAbsent, {listed("r1", "A", "192.0.2.1")},
     {kNotFound}},
    {"absent, keep: a differing record stays", want("A", "192.0.2.9"), kAbsentKeep,
     {listed("r1", "A", "192.0.2.1")}, {kNotFound}},
    // AAAA carries proxied like A and CNAME.
    {"proxied AAAA already there: the listing", want("AAAA", "2001:db8::1", true), kPresent,
     {listed("r1", "AAAA", "2001:db8::1", true)}, {listing("r1")}},
    {"AAAA to be proxied: updated", want("AAAA", "2001:db8::1", true), kPresent,
     {listed("r1", "AAAA", "2001:db8::1", false)}, {update("r1")}},
    // CNAME excludes A and AAAA; A and AAAA stand side by side.
    {"A beside a wanted AAAA: no conflict", want("AAAA", "2001:db8::1"), kPresent,
     {listed("r1", "A", "192.0.2.7")}, {kCreate}},
    {"AAAA beside a wanted A: no conflict", want("A", "192.0.2.1"), kPresent, {listed("r1", "AAAA", "2001:db8::7")},
     {kCreate}},
    {"CNAME where AAAA is wanted", want("AAAA", "2001:db8::1"), kPresent, {listed("r1", "CNAME", "x.example.com")},
     {delete_conflict("r1"), kCreate}},
    {"AAAA where CNAME is wanted", want("CNAME", "t.example.com"), kPresent, {listed("r1", "AAAA", "2001:db8::7")},
     {delete_conflict("r1"), kCreate}},
    {"CNAME where A is wanted", want("A", "192.0.2.1"), kPresent, {listed("r1", "CNAME", "x.example.com")},
     {delete_conflict("r1"), kCreate}},
    {"A where CNAME is wanted", want("CNAME", "t.example.com"), kPresent, {listed("r1", "A", "192.0.2.7")},
     {delete_conflict("r1"), kCreate}},
    {"only the first conflicting record goes", want("CNAME", "t.example.com"), kPresent,
     {listed("r1", "A", "192.0.2.1"), listed("r2", "A", "192.0.2.2")}, {delete_conflict("r1"), kCreate}},
    {"absent: a conflicting record stays", want("AAAA", "2001:db8::1"), kAbsentKeep,
     {listed("r1", "CNAME", "x.example.com")}, {kNotFound}},
    {"TXT beside A and CNAME: no conflict", want("TXT", "hello"), kPresent,
     {listed("r1", "A", "192.0.2.1"), listed("r2", "CNAME", "x.example.com")}, {kCreate}},
    {"MX beside A: no conflict", want("MX", "mail.example.com|5"), kPresent, {listed("r1", "A", "192.0.2.1")},
     {kCreate}},
    // TXT: replace deletes the other values of the name and scans on.
    {"TXT replace, u w v: u and w go, v is there", want("TXT", "v"), kPresent,
     {listed("r1", "TXT", "u"), listed("r2", "TXT", "w"), listed("r3", "TXT", "v")},
     {delete_differing("r1"), delete_differing("r2"), listing("r3")}},
    {"TXT replace, v u w: nothing goes", want("TXT", "v"), kPresent,
     {listed("r1", "TXT", "v"), listed("r2", "TXT", "u"), listed("r3", "TXT", "w")}, {listing("r1")}},
    {"TXT replace, u w: both go, v is created", want("TXT", "v"), kPresent,
     {listed("r1", "TXT", "u"), listed("r2", "TXT", "w")}, {delete_differing("r1"), delete_differing("r2"), kCreate}},
    {"TXT replace, absent: u and w go anyway", want("TXT", "v"), kAbsent,
     {listed("r1", "TXT", "u"), listed("r2", "TXT", "w")},
     {delete_differing("r1"), delete_differing("r2"), kNotFound}},
    {"TXT keep: v is created beside u", want("TXT", "v"), kPresentKeep, {listed("r1", "TXT", "u")},
     {create_beside("r1")}},
    {"TXT keep, absent: u stays", want("TXT", "v"), kAbsentKeep, {listed("r1", "TXT", "u")}, {kNotFound}},
    {"TXT keep, absent: the exact value goes", want("TXT", "v"), kAbsentKeep,
     {listed("r1", "TXT", "u"), listed("r2", "TXT", "v")}, {delete_match("r2")}},
    // TXT contents compare as DNS character-strings.
    {"TXT listed in quotes matches", want("TXT", "abc def"), kPresent, {listed("r1", "TXT", "\"abc def\"")},
     {listing("r1")}},
    {"TXT wanted in quotes matches", want("TXT", "\"abc def\""), kPresent, {listed("r1", "TXT", "abc def")},
     {listing("r1")}},
    {"TXT split in strings matches the joined text", want("TXT", "v=DKIM1; p=MIIBpart2"), kPresent,
     {listed("r1", "TXT", "\"v=DKIM1; p=MIIB\" \"part2\"")}, {listing("r1")}},
    {"TXT split differently on both sides matches", want("TXT", "\"ab\"  \"cd\""), kPresent,
     {listed("r1", "TXT", "\"a\" \"bcd\"")}, {listing("r1")}},
    {"TXT split with another part differs", want("TXT", "v=DKIM1; p=MIIBpart2"), kPresentKeep,
     {listed("r1", "TXT", "\"v=DKIM1; p=MIIB\" \"part3\"")}, {create_beside("r1")}},
    {"TXT with an escaped quote inside matches", want("TXT", "say \\\"hi\\\""), kPresent,
     {listed("r1", "TXT", "\"say \\\"hi\\\"\"")}, {listing("r1")}},
    {"TXT not in the quoted form compares as it stands", want("TXT", "a\"b"), kPresentKeep,
     {listed("r1", "TXT", "\"a\"b\"")}, {create_beside("r1")}},
    {"TXT strings not separated by a blank are not the form", want("TXT", "ab"), kPresentKeep,
     {listed("r1", "TXT", "\"a\"\"b\"")}, {create_beside("r1")}},
    // MX matches on the host; the priority decides only without replace.
    {"MX of the same host, other priority: the listing", want("MX", "mail.example.com|20"), kPresent,
     {listed("r1", "MX", "mail.example.com", false, 10)}, {listing("r1")}},
    {"MX keep, other host of the same priority: found", want("MX", "mail.example.com|20"), kPresentKeep,
     {listed("r1", "MX", "other.example.com", false, 20)}, {found("r1")}},
    {"MX keep, other host and priority: created beside", want("MX", "mail.example.com|20"), kPresentKeep,
     {listed("r1", "MX", "other.example.com", false, 30)}, {create_beside("r1")}},
    {"MX keep, no priority given means 10", want("MX", "mail.example.com"), kPresentKeep,
     {listed("r1", "MX", "other.example.com", false, 10)}, {found("r1")}},
    {"MX replace, other host: updated", want("MX", "mail.example.com|20"), kPresent,
     {listed("r1", "MX", "old.example.com", false, 10)}, {update("r1")}},
    {"MX absent: the host's record goes", want("MX", "mail.example.com|20"), kAbsent,
     {listed("r1", "MX", "mail.example.com", false, 10)}, {delete_match("r1")}},
};

class PlanTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanTest, StepsAreAsTheDecisionTableSays) {
    const PlanCase& c = GetParam();
    const Plan plan = plan_reconciliation(c.wanted, c.flags, Z, c.records, c.records.empty());
    std::vector<Expected> steps;
    for (const PlanStep& step : plan) steps.push_back({step.action, step.trace, step.record.id, step.not_found});
    EXPECT_EQ(steps, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Decisions, PlanTest, ::testing::ValuesIn(kPlanCases));

TEST(PlanTest, AStepCarriesTheWholeListedRecord) {
    const ListedRecord record = listed("r1", "MX", "other.example.com", true, 20);
    const Plan plan = plan_reconciliation(want("MX", "mail.example.com|20", true), kPresentKeep, Z, {record}, false);
    ASSERT_EQ(plan.size(), 1U);
    EXPECT_EQ(plan[0].record, record);
}

TEST(PlanTest, OnlyAMatchOrAConflictSettlesThePlan) {
    ReconciliationPlanner planner(want("A", "192.0.2.1"), kPresent, Z);
    planner.consider(listed("r1", "A", "192.0.2.9"));
    EXPECT_FALSE(planner.settled());  // a later record may still match
    planner.consider(listed("r2", "A", "192.0.2.1"));
    ASSERT_TRUE(planner.settled());
    planner.consider(listed("r3", "CNAME", "x.example.com"));
    const Plan expected{{Action::return_listing, StepTrace::none, listed("r2", "A", "192.0.2.1")}};
    EXPECT_EQ(std::move(planner).finish(false), expected);
}

struct NameCase {
    const char* name;
    const char* canonical;
};

void PrintTo(const NameCase& c, std::ostream* out) { *out << c.name; }

class RecordNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(RecordNameTest, NamesTakeTheFormTheServiceStores) {
    EXPECT_EQ(canonical_record_name(GetParam().name, canonical_zone_name("Example.COM.")), GetParam().canonical);
}

INSTANTIATE_TEST_SUITE_P(Names, RecordNameTest,
                         ::testing::Values(NameCase{"Case.example.com", "case.example.com"},
                                           NameCase{"case.example.com.", "case.example.com"},
                                           NameCase{"case", "case.example.com"},
                                           NameCase{"@", "example.com"}, NameCase{"EXAMPLE.com", "example.com"},
                                           NameCase{"a.b", "a.b.example.com"},
                                           NameCase{"notexample.com", "notexample.com.example.com"},
                                           NameCase{"case..", "case..example.com"},
                                           NameCase{"\xc3\x89t\xc3\xa9.Example.com",
                                                    "\xc3\x89t\xc3\xa9.Example.com"}));

struct TxtCase {
    std::string content;
    std::string value;
};

void PrintTo(const TxtCase& c, std::ostream* out) { *out << c.content; }

class TxtValueTest : public ::testing::TestWithParam<TxtCase> {};

TEST_P(TxtValueTest, QuotedStringsStandForTheirJoinedText) { EXPECT_EQ(txt_value(GetParam().content), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(Contents, TxtValueTest,
                         ::testing::Values(TxtCase{"plain text", "plain text"}, TxtCase{"\"quoted\"", "quoted"},
                                           TxtCase{"\"\"", ""}, TxtCase{"\"a\" \"b\" \"c\"", "abc"},
                                           TxtCase{"\"a\"   \"b\"", "ab"}, TxtCase{"\"a b\" \" c\"", "a b c"},
                                           TxtCase{"\"a\\\"b\"", "a\\\"b"}, TxtCase{"\"", "\""},
                                           TxtCase{"\"a\" ", "\"a\" "}, TxtCase{" \"a\"", " \"a\""},
                                           TxtCase{"\"a\" b", "\"a\" b"}, TxtCase{"\"a\"\"b\"", "\"a\"\"b\""},
                                           TxtCase{"\"a\\\"", "\"a\\\""}, TxtCase{"\"a\\", "\"a\\"}));

struct PageCase {
    const char* title;
    const char* body;
    bool scannable;
    std::size_t listed;
    std::vector<std::string> ids;
    std::int64_t pages;
};

void PrintTo(const PageCase& c, std::ostream* out) { *out << c.title; }

class ListingPageTest : public ::testing::TestWithParam<PageCase> {};

TEST_P(ListingPageTest, ReadsRecordsAndThePagesAnnounced) {
    const PageCase& c = GetParam();
    const ListingPage page = read_listing_page(c.body);
    EXPECT_EQ(page.scannable, c.scannable);
    EXPECT_EQ(page.listed, c.listed);
    std::vector<std::string> ids;
    for (const ListedRecord& record : page.records) ids.push_back(record.id);
    EXPECT_EQ(ids, c.ids);
    EXPECT_EQ(page.announced_pages, c.pages);
}

#define RECORD(id) "{\"id\": " id ", \"name\": \"n\", \"type\": \"A\", \"content\": \"c\"}"

const PageCase kPageCases[] = {
    {"not JSON", "upstream trouble", false, 0, {}, 1},
    {"no result", "{\"success\": false}", false, 0, {}, 1},
    {"result not an array", "{\"result\": {\"id\": \"x\"}}", false, 0, {}, 1},
    {"empty", "{\"result\": []}", true, 0, {}, 1},
    {"unusable records are left out but counted",
     "{\"result\": [" RECORD("\"a\"") ", {\"name\": \"n\", \"type\": \"A\", \"content\": \"c\"}, " RECORD("7") ", "
     RECORD("\"\"") ", " RECORD("\"x/y\"") ", " RECORD("\"..\"") ", " RECORD("\"b\"") "]}",
     true, 7, {"a", "b"}, 1},
    {"total_pages", "{\"result\": [], \"result_info\": {\"total_pages\": 3}}", true, 0, {}, 3},
    {"total_pages capped", "{\"result\": [], \"result_info\": {\"total_pages\": 99999999999}}", true, 0, {}, 10000},
    {"total_pages below 1", "{\"result\": [], \"result_info\": {\"total_pages\": -5}}", true, 0, {}, 1},
    {"count over size rounds up", "{\"result\": [], \"result_info\": {\"total_count\": 201, \"per_page\": 100}}",
     true, 0, {}, 3},
    {"count equal to size", "{\"result\": [], \"result_info\": {\"total_count\": 100, \"per_page\": 100}}", true, 0,
     {}, 1},
    {"size zero", "{\"result\": [], \"result_info\": {\"total_count\": 100, \"per_page\": 0}}", true, 0, {}, 1},
    {"the largest count over 2 does not overflow",
     "{\"result\": [], \"result_info\": {\"total_count\": 9223372036854775807, \"per_page\": 2}}", true, 0, {},
     10000},
    {"the largest count over 2^62 is two pages",
     "{\"result\": [], \"result_info\": {\"total_count\": 9223372036854775807, \"per_page\": 4611686018427387904}}",
     true, 0, {}, 2},
    {"the largest count over 1",
     "{\"result\": [], \"result_info\": {\"total_count\": 9223372036854775807, \"per_page\": 1}}", true, 0, {},
     10000},
};

INSTANTIATE_TEST_SUITE_P(Pages, ListingPageTest, ::testing::ValuesIn(kPageCases));

}  // namespace

#include "transport/retry_after.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

using std::chrono::system_clock;

constexpr std::int64_t kLongestDeltaSeconds = 1'000'000'000;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// A left-to-right reader of one HTTP-date; every step fails once one has.
class DateReader {
public:
    explicit DateReader(std::string_view text) : text_(text) {}

    bool ok() const { return ok_; }
    bool at_end() const { return ok_ && position_ == text_.size(); }
    bool next_is(char c) const { return ok_ && position_ < text_.size() && text_[position_] == c; }

    void expect(char c) {
        if (next_is(c)) {
            ++position_;
        } else {
            ok_ = false;
        }
    }

    void expect(std::string_view word) {
        for (char c : word) expect(c);
    }

    std::string_view letters() {
        const std::size_t start = position_;
        while (ok_ && position_ < text_.size() && is_letter(text_[position_])) ++position_;
        if (position_ == start) ok_ = false;
        return text_.substr(start, position_ - start);
    }

    int digits(std::size_t count) {
        int value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (!ok_ || position_ >= text_.size() || !is_digit(text_[position_])) {
                ok_ = false;
                return 0;
            }
            value = value * 10 + (text_[position_++] - '0');
        }
        return value;
    }

    // asctime pads a one-digit day with a blank ("Nov  6").
    int padded_day() {
        if (next_is(' ')) {
            ++position_;
            return digits(1);
        }
        return digits(2);
    }

    std::chrono::month month() {
        static constexpr std::array<std::string_view, 12> kNames = {"jan", "feb", "mar", "apr", "may", "jun",
                                                                    "jul", "aug", "sep", "oct", "nov", "dec"};
        const std::string_view word = letters();
        for (unsigned i = 0; ok_ && word.size() == 3 && i < kNames.size(); ++i) {
            if (lower(word[0]) == kNames[i][0] && lower(word[1]) == kNames[i][1] && lower(word[2]) == kNames[i][2]) {
                return std::chrono::month{i + 1};
            }
        }
        ok_ = false;
        return std::chrono::month{0};
    }

    std::chrono::seconds time_of_day() {
        const int hour = digits(2);
        expect(':');
        const int minute = digits(2);
        expect(':');
        const int second = digits(2);
        if (hour > 23 || minute > 59 || second > 60) ok_ = false;  // 60: a leap second
        return std::chrono::hours{hour} + std::chrono::minutes{minute} + std::chrono::seconds{second};
    }

private:
    std::string_view text_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

std::optional<system_clock::time_point> instant(int year, std::chrono::month month, int day,
                                                std::chrono::seconds time) {
    const std::chrono::year_month_day date{std::chrono::year{year}, month,
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok()) return std::nullopt;
    return std::chrono::sys_days{date} + time;
}

// "Sun, 06 Nov 1994 08:49:37 GMT" (the day name is three letters) or
// "Sunday, 06-Nov-94 08:49:37 GMT" (a full day name, a two-digit year).
std::optional<system_clock::time_point> read_comma_date(std::string_view text, system_clock::time_point now) {
    DateReader reader(text);
    const bool imf = reader.letters().size() == 3;
    reader.expect(", ");
    const int day = reader.digits(2);
    const char separator = imf ? ' ' : '-';
    reader.expect(separator);
    const std::chrono::month month = reader.month();
    reader.expect(separator);
    int year = reader.digits(imf ? 4 : 2);
    reader.expect(' ');
    const std::chrono::seconds time = reader.time_of_day();
    reader.expect(" GMT");
    if (!reader.at_end()) return std::nullopt;
    if (!imf) {
        // A two-digit year more than 50 years ahead is the last such year in the past.
        const std::chrono::year_month_day today{std::chrono::floor<std::chrono::days>(now)};
        const int this_year = static_cast<int>(today.year());
        year += this_year - this_year % 100;
        if (year > this_year + 50) year -= 100;
    }
    return instant(year, month, day, time);
}

// "Sun Nov  6 08:49:37 1994"
std::optional<system_clock::time_point> read_asctime_date(std::string_view text) {
    DateReader reader(text);
    if (reader.letters().size() != 3) return std::nullopt;
    reader.expect(' ');
    const std::chrono::month month = reader.month();
    reader.expect(' ');
    const int day = reader.padded_day();
    reader.expect(' ');
    const std::chrono::seconds time = reader.time_of_day();
    reader.expect(' ');
    const int year = reader.digits(4);
    if (!reader.at_end()) return std::nullopt;
    return instant(year, month, day, time);
}

std::optional<std::chrono::milliseconds> delta_seconds(std::string_view digits) {
    std::int64_t seconds = 0;
    for (char c : digits) {
        if (!is_digit(c)) return std::nullopt;
        seconds = std::min(seconds * 10 + (c - '0'), kLongestDeltaSeconds);
    }
    return std::chrono::seconds{seconds};
}

}  // namespace

std::optional<std::chrono::milliseconds> parse_retry_after(std::string_view value, system_clock::time_point now) {
    value = trimmed(value);
    if (value.empty()) return std::nullopt;
    if (is_digit(value.front())) return delta_seconds(value);
    const std::optional<system_clock::time_point> date =
        value.find(',') != std::string_view::npos ? read_comma_date(value, now) : read_asctime_date(value);
    if (!date) return std::nullopt;
    if (*date <= now) return std::chrono::milliseconds{0};
    return std::chrono::ceil<std::chrono::milliseconds>(*date - now);
}

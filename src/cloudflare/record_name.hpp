// Record names as the service stores them: a script may write a name in any
// letter case, with a trailing dot, as "@" or relative to the zone, and the
// service keeps one canonical form for all of them.
#pragma once

#include <string>
#include <string_view>

// A zone's domain in canonical form: ASCII letters lower-cased and one
// trailing dot removed. A name with a byte beyond ASCII stays as given: the
// service keeps internationalised names in Punycode, which is ASCII.
std::string canonical_zone_name(std::string_view domain);

// A record name in canonical form within the zone `canonical_zone`: as above,
// then "@" is the zone itself, and a name that is neither the zone nor ends in
// "." + the zone is taken as relative to it (name + "." + zone).
std::string canonical_record_name(std::string_view name, std::string_view canonical_zone);

#include "common/perform.hpp"

#include "common/interp.hpp"
#include "common/trace_writer.hpp"

namespace qov {

HttpResult perform(const HttpRequest& request) {
    for (const std::string& line : request_trace_lines(request)) write_trace(line);
    AllowThreads unlocked;
    return http_request(request);
}

}  // namespace qov

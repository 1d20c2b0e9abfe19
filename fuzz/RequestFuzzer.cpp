// The relay's request reading on arbitrary bytes: the HTTP parser with the server's limits, then
// the query (and a form body) decoded as the service decodes them.
#include "relay/http/HttpServer.h"
#include "relay/http/Query.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

using namespace quillet::relay;

// Decoding never grows a text, and a decoded query respects every bound it was given.
void CheckQuery(std::string_view query, bool plusIsSpace) {
    const QueryLimits limits;
    Params params;
    const QueryError problem = ParseQuery(query, params, limits, plusIsSpace);
    if (problem != QueryError::none)
        return;
    if (params.size() > limits.maxParams)
        __builtin_trap();
    for (const auto& [name, value] : params) {
        if (name.size() > limits.maxName || value.size() > limits.maxValue)
            __builtin_trap();
        if (!FindParam(params, name) || CountParam(params, name) == 0)
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto decoded = PercentDecode(bytes, size % 2 == 0); decoded && decoded->size() > size)
        __builtin_trap();
    CheckQuery(bytes, false);

    HttpRequest request;
    const unsigned status = ParseRequest(bytes, HttpLimits{}, request);
    if (status != 200)
        return 0;
    if (request.query.size() + request.path.size() > HttpLimits{}.maxTarget ||
        request.body.size() > HttpLimits{}.maxBody)
        __builtin_trap();
    CheckQuery(request.query, false);
    CheckQuery(request.body, true);
    return 0;
}

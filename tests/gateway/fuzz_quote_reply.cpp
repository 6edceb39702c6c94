#include "gateway/quote_retrieval.h"

#include "platform/module_error.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // An exact-size body: parseQuoteReply must make its own room past the end.
    std::string body(reinterpret_cast<const char *>(data), size);
    body.shrink_to_fit();
    try {
        const gateway::QuoteReply reply = gateway::parseQuoteReply(body);
        if (reply.hasPicture) {
            volatile std::size_t length = reply.picture().size();
            static_cast<void>(length);
        }
    } catch (const ModuleError &) {
    }
    return 0;
}

#include "gateway/token_request.h"

#include "platform/module_error.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    try {
        const gateway::TokenReply reply =
            gateway::parseTokenReply(std::string_view(reinterpret_cast<const char *>(data), size));
        static_cast<void>(gateway::tokenReplyProblems(reply));
    } catch (const ModuleError &) {
        // Text that is not XML is refused with a message: expected.
    }
    return 0;
}

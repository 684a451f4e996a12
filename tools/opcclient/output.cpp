#include "tools/opcclient/output.h"

#include "tools/opcclient/status_names.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace opcclient {

namespace {
std::mutex printing;  // data changes arrive on several threads
}

Output::Output(bool json) : json_(json) {
    // A Windows console shows the UTF-8 bytes as text; pipes and files take them as they are.
    SetConsoleOutputCP(CP_UTF8);
}

void Output::write(std::FILE* stream, std::string_view text) {
    std::lock_guard lock(printing);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void Output::line(std::string_view text) { write(stdout, text); }

void Output::object(const nlohmann::json& value) {
    write(stdout, value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void Output::error(std::string_view text) { write(stderr, "korvex-opc: " + std::string(text)); }

void Output::itemFailure(const Connection& connection, std::string_view itemId, HRESULT code) {
    error(std::string(itemId) + ": " + connection.describe(code));
    if (json_) object({{"item", itemId}, {"error", statusJson(connection, code)}});
}

nlohmann::json statusJson(const Connection& connection, HRESULT code) {
    return {{"code", hexCode(code)}, {"name", statusName(code)}, {"text", connection.statusText(code)}};
}

}  // namespace opcclient

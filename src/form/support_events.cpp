#include "form/support_events.h"

#include "gateway/address.h"
#include "platform/module_error.h"
#include "platform/support_log.h"
#include "valmora_config.h"

namespace form {
namespace {

std::string quoted(const std::string &text)
{
    std::string out = "« ";
    out += text;
    out += " »";
    return out;
}

// "0,37 s"
std::string seconds(std::chrono::milliseconds duration)
{
    const auto hundredths = (duration.count() + 5) / 10;
    const auto rest = hundredths % 100;
    return std::to_string(hundredths / 100) + "," + (rest < 10 ? "0" : "") + std::to_string(rest) + " s";
}

} // namespace

std::string startEvent(const std::vector<std::string> &arguments)
{
    std::string line = std::string("démarrage : Module_Valmora ") + valmora::ProductVersion;
    if (arguments.size() == 2)
        return line + ", fichier résultat " + quoted(arguments[0]) + ", fichier de configuration "
             + quoted(arguments[1]);
    line += ", " + std::to_string(arguments.size()) + " argument(s) au lieu de 2";
    for (const std::string &argument : arguments) {
        line += ' ';
        line += quoted(argument);
    }
    return line;
}

std::string configurationEvent(const host::ModuleConfig &config, bool proxyFile)
{
    return "configuration lue : passerelle " + quoted(config.Configurateur) + ", version attendue "
         + quoted(config.Version) + ", fichier proxy : " + (proxyFile ? "oui" : "non");
}

std::string requestEvent(std::string_view step, const gateway::RequestRecord &record)
{
    const gateway::AddressParts &address = record.address;
    std::string line = "requête " + std::string(step) + " : GET " + address.host + " " + address.path;
    if (!address.query.empty())
        line += "?" + address.query;
    line += " → " + (record.statusLine.empty() ? std::string("pas de réponse") : record.statusLine) + ", "
          + std::to_string(record.bytes) + " octets en " + seconds(record.duration);
    if (!record.limit.empty())
        line += ", limite atteinte : " + record.limit;
    if (record.cancelled)
        line += ", annulée";
    if (!record.libraryWords.empty())
        line += ", détail : " + record.libraryWords;
    return line;
}

std::string browserEvent(const std::string &url)
{
    const gateway::AddressParts address = gateway::partsOf(url);
    return "navigateur : " + address.host + " " + address.path;
}

std::string fileEvent(const std::string &path, std::uintmax_t bytes)
{
    return "fichier écrit : " + path + " (" + std::to_string(bytes) + " octets)";
}

std::string messageEvent(const std::string &shown)
{
    return "message : " + shown;
}

std::string exitEvent()
{
    return "fin";
}

void reportShown(const std::string &text)
{
    printForHost(text);
    platform::logEvent(messageEvent(text));
}

RunLog::RunLog(const std::vector<std::string> &arguments)
{
    platform::logEvent(startEvent(arguments));
}

RunLog::~RunLog()
{
    platform::logEvent(exitEvent());
}

} // namespace form

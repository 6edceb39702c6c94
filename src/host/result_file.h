#pragma once

#include <string>
#include <string_view>

namespace host {

// The seven values of one quoted line, as text from end to end.
struct LigneDevis {
    std::string Libelle;
    std::string Detail;
    std::string EcoTaxe;
    std::string PrixUnitaire;
    std::string Quantite;
    std::string PrixTotal;
    std::string Image;
};

// The result file for the host: the retrieval document with an ISO-8859-1 declaration
// and the seven line elements appended last under its Configurateur root, as
// Windows-1252 bytes with CR LF line breaks and one empty line at the end. Characters
// the code page lacks become character references in text and attribute values.
// A document that is not XML throws ModuleError.
[[nodiscard]] std::string resultFileBytes(std::string_view retrievalDocument, const LigneDevis &line);

} // namespace host

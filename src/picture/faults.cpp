#include "picture/faults.h"

#include <utility>

namespace picture {

void refuse(const std::string &reason, std::string detail)
{
    throw PictureFault("Image de la ligne illisible : " + reason, std::move(detail));
}

void damaged(std::string detail)
{
    refuse("les données de l'image sont abîmées ou incomplètes.", std::move(detail));
}

void unsupported(std::string detail)
{
    refuse("format d'image non pris en charge (PNG, JPEG ou BMP attendu).", std::move(detail));
}

} // namespace picture

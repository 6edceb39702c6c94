#include "picture/line_picture.h"

#include "picture/base64_stream.h"
#include "picture/bmp_writer.h"
#include "picture/faults.h"
#include "picture/format.h"
#include "picture/picture_input.h"

#include <memory>

namespace picture {
namespace {

std::unique_ptr<BmpWriter> writePicture(const std::string &path, PictureInput &input, const PictureLimits &limits)
{
    const std::unique_ptr<RowSource> source = openRowSource(input);
    const RowSource::Header header = source->readHeader(limits);
    auto bmp = std::make_unique<BmpWriter>(path, header.width, header.height);
    bmp->copyRows(*source, header.order);
    source->finish();
    return bmp;
}

} // namespace

bool SauverImageLigne(const std::string &path, std::string_view base64, const PictureLimits &limits)
{
    if (path.empty())
        return false;
    Base64Stream stream(withoutDataPrefix(base64));
    PictureInput input(stream);
    std::unique_ptr<BmpWriter> bmp;
    try {
        bmp = writePicture(path, input, limits);
    } catch (const PictureFault &) {
        input.drain(); // a fault of the text, further on, is the one to name
        throw;
    }
    input.drain(); // the text after the picture must be sound too
    bmp->commit();
    return true;
}

} // namespace picture

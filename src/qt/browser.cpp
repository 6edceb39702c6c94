#include "qt/browser.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include <utility>

namespace platform {
namespace {

BrowserHandler &installedHandler()
{
    static BrowserHandler handler;
    return handler;
}

} // namespace

bool openInBrowser(const std::string &url)
{
    if (const BrowserHandler &handler = installedHandler())
        return handler(url);
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

BrowserHandler setBrowserHandler(BrowserHandler handler)
{
    return std::exchange(installedHandler(), std::move(handler));
}

} // namespace platform

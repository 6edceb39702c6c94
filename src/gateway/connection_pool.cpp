#include "gateway/connection_pool.h"

#include "platform/module_error.h"

namespace gateway {

CURLSH *ConnectionPool::handle()
{
    if (share_)
        return share_.get();
    std::unique_ptr<CURLSH, ShareDeleter> share(curl_share_init());
    if (!share)
        throw ModuleError("Impossible de préparer la connexion réseau.", "curl_share_init failed");
    for (const curl_lock_data data : {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_DNS}) {
        if (const CURLSHcode code = curl_share_setopt(share.get(), CURLSHOPT_SHARE, data); code != CURLSHE_OK)
            throw ModuleError("Impossible de préparer la connexion réseau.", curl_share_strerror(code));
    }
    share_ = std::move(share);
    return share_.get();
}

} // namespace gateway

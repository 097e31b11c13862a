#include "net/InternetError.h"

namespace
{
thread_local uint32_t t_nLastError = 0;
thread_local std::string t_strLastErrorText;
} // namespace

bool IsConnectionLost(uint32_t nError)
{
    return nError == ERROR_INTERNET_TIMEOUT || nError == ERROR_INTERNET_CONNECTION_ABORTED ||
           nError == ERROR_INTERNET_CONNECTION_RESET || nError == ERROR_FTP_DROPPED;
}

bool IsListingBound(uint32_t nError)
{
    return nError == ERROR_FTP_REPLY_FLOOD || nError == ERROR_FTP_LISTING_TIMEOUT;
}

bool IsTlsFailure(uint32_t nError)
{
    return nError == ERROR_INTERNET_SEC_CERT_CN_INVALID || nError == ERROR_INTERNET_INVALID_CA ||
           nError == ERROR_INTERNET_SECURITY_CHANNEL_ERROR || nError == ERROR_FTP_TLS_NOT_OFFERED ||
           nError == ERROR_FTP_TLS_PIN_MISMATCH || nError == ERROR_FTP_TLS_PROT_REFUSED;
}

std::string FormatInternetError(uint32_t nError)
{
    switch (nError)
    {
    case 0:
        return {};
    case ERROR_NOT_ENOUGH_MEMORY:
        return "内存不足";
    case ERROR_NO_MORE_FILES:
        return "没有更多文件";
    case ERROR_INTERNET_TIMEOUT:
        return "操作超时";
    case ERROR_INTERNET_EXTENDED_ERROR:
        return "服务器返回了错误信息";
    case ERROR_INTERNET_INVALID_URL:
        return "服务器地址无效";
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
        return "无法解析服务器名称或地址";
    case ERROR_INTERNET_OPERATION_CANCELLED:
        return "操作已取消";
    case ERROR_INTERNET_CANNOT_CONNECT:
        return "无法与服务器建立连接";
    case ERROR_INTERNET_CONNECTION_ABORTED:
        return "与服务器的连接被意外终止";
    case ERROR_INTERNET_CONNECTION_RESET:
        return "与服务器的连接被重置";
    case ERROR_FTP_DROPPED:
        return "FTP 会话被终止";
    case ERROR_FTP_LISTING_TOO_LARGE:
        return "服务器返回的目录列表过大";
    case ERROR_FTP_REPLY_FLOOD:
        return "服务器对一条命令发来了过多的预备回答（1xx）";
    case ERROR_FTP_LISTING_TIMEOUT:
        return "目录列表超过了站点选项 listing_timeout 规定的时间";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        return "服务器证书与主机名不符";
    case ERROR_INTERNET_INVALID_CA:
        return "服务器证书不受信任";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        return "TLS 握手失败";
    case ERROR_FTP_TLS_NOT_OFFERED:
        return "服务器不支持 TLS 加密（拒绝了 AUTH TLS），密码没有发送";
    case ERROR_FTP_TLS_PIN_MISMATCH:
        return "服务器证书的公钥与已信任的不同";
    case ERROR_FTP_TLS_PROT_REFUSED:
        return "服务器拒绝加密数据连接（拒绝了 PROT P），没有列出目录；登录（含密码）已通过 TLS "
               "加密发送";
    case ERROR_FTP_REST_REFUSED:
        return "服务器不支持续传（拒绝了 REST）";
    case ERROR_FTP_SINK_REFUSED:
        return "下载被中止";
    case ERROR_FTP_OFFSET_BEYOND_END:
        return "已下载的部分比服务器上的文件还大";
    case ERROR_FTP_PARTIAL_FILE:
        return "传输没有完成，收到的字节比文件小";
    case ERROR_FTP_RETRIEVE_REFUSED:
        return "服务器拒绝发送该文件";
    default:
        return "Internet 错误 " + std::to_string(nError);
    }
}

uint32_t GetLastInternetError()
{
    return t_nLastError;
}

void SetLastInternetError(uint32_t nError)
{
    t_nLastError = nError;
    t_strLastErrorText.clear();
}

void SetLastInternetError(uint32_t nError, std::string strText)
{
    t_nLastError = nError;
    t_strLastErrorText = std::move(strText);
}

std::string GetLastInternetErrorText()
{
    return t_strLastErrorText.empty() ? FormatInternetError(t_nLastError) : t_strLastErrorText;
}

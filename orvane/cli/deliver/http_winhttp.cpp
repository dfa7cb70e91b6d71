// Delivery's HTTP request on Windows: WinHTTP, with the system's proxy
// settings and certificate store.  One session for the sender's life; a
// request in flight is ended by closing its handle (Abort).
#include "orvane/cli/deliver/http.h"
#include "orvane/version.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <mutex>

namespace {

std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), NULL, 0);
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], n);
    return wide;
}

std::string Why(const char* step)
{
    const DWORD code = GetLastError();
    std::string text = std::string(step) + " failed (WinHTTP error " + std::to_string(code) + ")";
    switch (code) {
    case ERROR_WINHTTP_CANNOT_CONNECT: text = "cannot connect (refused or unreachable)"; break;
    case ERROR_WINHTTP_TIMEOUT: text = "no answer in time"; break;
    case ERROR_WINHTTP_CONNECTION_ERROR: text = "the connection was dropped"; break;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: text = "the server's name is not known"; break;
    case ERROR_WINHTTP_SECURE_FAILURE: text = "the server's certificate is not trusted"; break;
    case ERROR_WINHTTP_OPERATION_CANCELLED: text = "stopped"; break;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: text = "the server's answer is not HTTP"; break;
    }
    return text;
}

class WinHttpClient : public HttpClient
{
public:
    WinHttpClient(int timeoutMs, const std::atomic<bool>* stop) : timeoutMs_(timeoutMs), stop_(stop)
    {
        session_ = WinHttpOpen(Wide("orvane-cli/" ORVANE_VERSION).c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
        if (session_)
            WinHttpSetTimeouts(session_, timeoutMs, timeoutMs, timeoutMs, timeoutMs);
    }
    ~WinHttpClient() override
    {
        if (session_)
            WinHttpCloseHandle(session_);
    }

    HttpAnswer Send(const std::string& url, const HttpHeaders& headers, const std::string& body, bool head) override
    {
        HttpAnswer answer;
        const std::wstring wurl = Wide(url);
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof(parts);
        parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = DWORD(-1);
        if (!session_ || !WinHttpCrackUrl(wurl.c_str(), 0, 0, &parts)) {
            answer.error = session_ ? "the URL cannot be read" : Why("WinHttpOpen");
            return answer;
        }
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
        path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        HINTERNET connect = WinHttpConnect(session_, host.c_str(), parts.nPort, 0);
        HINTERNET request = connect ? WinHttpOpenRequest(connect, head ? L"HEAD" : L"POST",
                                                         path.empty() ? L"/" : path.c_str(), NULL,
                                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                         parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)
                                    : NULL;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            request_ = request;
        }
        std::wstring lines;
        for (const auto& h : headers)
            lines += Wide(h.first + ": " + h.second + "\r\n");
        DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        bool ok = request != NULL && !stop_->load() &&
                  WinHttpSetTimeouts(request, timeoutMs_, timeoutMs_, timeoutMs_, timeoutMs_) &&
                  WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
        ok = ok && WinHttpSendRequest(request, lines.c_str(), DWORD(-1L),
                                      head ? WINHTTP_NO_REQUEST_DATA : LPVOID(body.data()), head ? 0 : DWORD(body.size()),
                                      head ? 0 : DWORD(body.size()), 0);
        ok = ok && WinHttpReceiveResponse(request, NULL);
        DWORD status = 0, size = sizeof(status);
        ok = ok && WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                       WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        if (ok) {
            answer.status = int(status);
            char block[1024];
            DWORD got = 0;
            while (!head && answer.body.size() < kAnswerKept && WinHttpReadData(request, block, sizeof(block), &got) &&
                   got > 0)
                answer.body.append(block, std::min<size_t>(got, kAnswerKept - answer.body.size()));
        } else {
            answer.error = stop_->load() ? "stopped" : Why(connect ? "the request" : "WinHttpConnect");
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (request_)
                WinHttpCloseHandle(request_);
            request_ = NULL;
        }
        if (connect)
            WinHttpCloseHandle(connect);
        return answer;
    }

    void Abort() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (request_)
            WinHttpCloseHandle(request_);
        request_ = NULL;
    }

private:
    HINTERNET session_ = NULL;
    HINTERNET request_ = NULL;   // the request in flight, under mutex_
    int timeoutMs_;
    std::mutex mutex_;
    const std::atomic<bool>* stop_;
};

} // namespace

std::unique_ptr<HttpClient> MakeHttpClient(int timeoutMs, const std::atomic<bool>* stop)
{
    return std::make_unique<WinHttpClient>(timeoutMs, stop);
}

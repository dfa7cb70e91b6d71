// The one HTTP request delivery makes: a POST of a record, and a HEAD for
// `deliver --check`.  Two implementations behind this interface: libcurl on
// Linux (http_curl.cpp), WinHTTP on Windows (http_winhttp.cpp); both verify
// HTTPS against the system's certificate store and follow no redirects.
#ifndef ORVANE_CLI_DELIVER_HTTP_H
#define ORVANE_CLI_DELIVER_HTTP_H

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpAnswer
{
    int status = 0;         // the HTTP status; 0: no answer (refused, time-out, dropped, TLS)
    std::string body;       // the start of the answer's body (at most kAnswerKept bytes)
    std::string error;      // with status 0: why there was no answer
};

const size_t kAnswerKept = 4096;

class HttpClient
{
public:
    virtual ~HttpClient() = default;
    // head: a HEAD request (body unused); otherwise a POST of body.  A
    // request in flight ends with no answer soon after *stop turns true.
    virtual HttpAnswer Send(const std::string& url, const HttpHeaders& headers, const std::string& body,
                            bool head) = 0;
    // From another thread, once *stop is true: ends a request in flight now.
    virtual void Abort() {}
};

// timeoutMs bounds the whole request, connecting included.
std::unique_ptr<HttpClient> MakeHttpClient(int timeoutMs, const std::atomic<bool>* stop);

// The URL's host (without brackets), or "" when the URL is not
// http://HOST[:PORT]/... or https://...; *https says which.
std::string UrlHost(const std::string& url, bool* https);

// 127.0.0.0/8, ::1 or localhost: plain HTTP never leaves the machine, and
// a page served there is for this PC only.
bool IsLoopback(const std::string& host);

#endif

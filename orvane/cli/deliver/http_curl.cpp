// Delivery's HTTP request on Linux: Debian's libcurl, one easy handle kept
// for the sender's life so that the connection is reused.  HTTPS is
// verified against the system's certificate store (libcurl's default).
#include "orvane/cli/deliver/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>

namespace {

size_t KeepAnswer(char* data, size_t size, size_t count, void* user)
{
    std::string* body = static_cast<std::string*>(user);
    const size_t n = size * count;
    if (body->size() < kAnswerKept)
        body->append(data, std::min(n, kAnswerKept - body->size()));
    return n;
}

int StopAsked(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const std::atomic<bool>* stop = static_cast<const std::atomic<bool>*>(user);
    return stop && stop->load() ? 1 : 0;
}

class CurlClient : public HttpClient
{
public:
    CurlClient(int timeoutMs, const std::atomic<bool>* stop) : timeoutMs_(timeoutMs), stop_(stop)
    {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        easy_ = curl_easy_init();
    }
    ~CurlClient() override { curl_easy_cleanup(easy_); }

    HttpAnswer Send(const std::string& url, const HttpHeaders& headers, const std::string& body, bool head) override
    {
        HttpAnswer answer;
        if (!easy_) {
            answer.error = "libcurl could not start";
            return answer;
        }
        curl_easy_reset(easy_);
        curl_slist* list = nullptr;
        for (const auto& h : headers)
            list = curl_slist_append(list, (h.first + ": " + h.second).c_str());
        // No "Expect: 100-continue" round trip for a small body.
        list = curl_slist_append(list, "Expect:");
        char error[CURL_ERROR_SIZE] = "";
        curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, list);
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, long(timeoutMs_));
        curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, long(timeoutMs_));
        curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, error);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, KeepAnswer);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &answer.body);
        curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, StopAsked);
        curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, stop_);
        if (head) {
            curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
        } else {
            curl_easy_setopt(easy_, CURLOPT_POST, 1L);
            curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body.data());
            curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        }
        const CURLcode rc = curl_easy_perform(easy_);
        curl_slist_free_all(list);
        long status = 0;
        if (rc == CURLE_OK && curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status > 0) {
            answer.status = int(status);
        } else {
            answer.body.clear();
            answer.error = error[0] ? error : curl_easy_strerror(rc);
        }
        return answer;
    }

private:
    CURL* easy_ = nullptr;
    int timeoutMs_;
    const std::atomic<bool>* stop_;
};

} // namespace

std::unique_ptr<HttpClient> MakeHttpClient(int timeoutMs, const std::atomic<bool>* stop)
{
    return std::make_unique<CurlClient>(timeoutMs, stop);
}

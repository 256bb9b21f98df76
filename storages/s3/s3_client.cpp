#include "s3_client.h"

#include <curl/curl.h>
#include <expat.h>
#include <nettle/base64.h>
#include <nettle/md5.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

namespace s3 {

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

size_t Collect(char* data, size_t size, size_t count, void* user)
{
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// Keeps the headers a range read checks.
size_t Header(char* data, size_t size, size_t count, void* user)
{
    auto* response = static_cast<Response*>(user);
    const std::string_view line(data, size * count);
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
        std::string name(line.substr(0, colon));
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
            value.remove_suffix(1);
        if (name == "etag")
            response->etag = value;
        else if (name == "content-range")
            response->contentRange = value;
    } else if (line.compare(0, 5, "HTTP/") == 0) {
        // A new response (after a redirect or a 100 Continue): its own headers.
        response->etag.clear();
        response->contentRange.clear();
    }
    return size * count;
}

struct Upload {
    std::string_view data;
    size_t offset = 0;
};

size_t Feed(char* out, size_t size, size_t count, void* user)
{
    auto* upload = static_cast<Upload*>(user);
    const size_t n = std::min(size * count, upload->data.size() - upload->offset);
    std::copy_n(upload->data.data() + upload->offset, n, out);
    upload->offset += n;
    return n;
}

std::string ContentMd5(std::string_view body)
{
    md5_ctx ctx;
    md5_init(&ctx);
    md5_update(&ctx, body.size(), reinterpret_cast<const uint8_t*>(body.data()));
    uint8_t digest[MD5_DIGEST_SIZE];
    md5_digest(&ctx, sizeof digest, digest);
    char encoded[BASE64_ENCODE_RAW_LENGTH(MD5_DIGEST_SIZE) + 1] = {};
    base64_encode_raw(encoded, sizeof digest, digest);
    return encoded;
}

std::string XmlEscape(std::string_view text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool Retryable(const Response& response)
{
    if (response.status == 0)
        return true; // no answer: a dropped connection, a timeout, a gateway restarting
    return response.status >= 500 || response.status == 429 || response.code == "SlowDown" ||
           response.code == "Throttling" || response.code == "RequestTimeout";
}

} // namespace

namespace {

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::string HomeFile(const char* variable, const char* below)
{
    if (std::string named = Env(variable); !named.empty())
        return named;
    std::string home = Env("HOME");
    if (home.empty()) {
        if (const passwd* user = getpwuid(getuid()); user != nullptr && user->pw_dir != nullptr)
            home = user->pw_dir;
    }
    return home.empty() ? std::string() : home + "/" + below;
}

// The text of a file; empty when it cannot be read.
std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) : std::string();
}

} // namespace

bool IniSection(std::string_view text, std::string_view section, std::vector<std::pair<std::string, std::string>>* pairs)
{
    bool found = false, inside = false;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            inside = Trim(line.substr(1, line.size() - 2)) == section;
            found = found || inside;
            continue;
        }
        const size_t equals = line.find('=');
        if (!inside || equals == std::string_view::npos)
            continue;
        std::string name(Trim(line.substr(0, equals)));
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        pairs->emplace_back(std::move(name), std::string(Trim(line.substr(equals + 1))));
    }
    return found;
}

Config ConfigFromEnvironment()
{
    Config config;
    const std::string profile = Env("AWS_PROFILE").empty() ? "default" : Env("AWS_PROFILE");
    // The profile's settings: the config file's first, the credentials
    // file's over them (the tools' order).
    std::vector<std::pair<std::string, std::string>> settings;
    const std::string configFile = HomeFile("AWS_CONFIG_FILE", ".aws/config");
    const std::string credentialsFile = HomeFile("AWS_SHARED_CREDENTIALS_FILE", ".aws/credentials");
    bool found = IniSection(ReadText(configFile), profile == "default" ? "default" : "profile " + profile, &settings);
    // Some write "[default]" as "[profile default]".
    if (profile == "default")
        found = IniSection(ReadText(configFile), "profile default", &settings) || found;
    found = IniSection(ReadText(credentialsFile), profile, &settings) || found;
    if (!found && !Env("AWS_PROFILE").empty())
        config.problem = "The profile \"" + profile + "\" (AWS_PROFILE) is in neither " + credentialsFile + " nor " +
                         configFile;
    auto setting = [&](const char* name) {
        std::string value;
        for (const auto& [key, text] : settings)
            if (key == name)
                value = text;
        return value;
    };

    config.endpoint = Env("AWS_ENDPOINT_URL");
    if (config.endpoint.empty())
        config.endpoint = setting("endpoint_url");
    while (!config.endpoint.empty() && config.endpoint.back() == '/')
        config.endpoint.pop_back();
    for (const std::string& region : {Env("AWS_REGION"), Env("AWS_DEFAULT_REGION"), setting("region")}) {
        if (!region.empty()) {
            config.region = region;
            break;
        }
    }
    config.caBundle = Env("AWS_CA_BUNDLE");
    if (config.caBundle.empty())
        config.caBundle = setting("ca_bundle");
    // Keys come together: from the environment when it has both, else from the profile.
    if (!Env("AWS_ACCESS_KEY_ID").empty() && !Env("AWS_SECRET_ACCESS_KEY").empty()) {
        config.accessKey = Env("AWS_ACCESS_KEY_ID");
        config.secretKey = Env("AWS_SECRET_ACCESS_KEY");
        config.sessionToken = Env("AWS_SESSION_TOKEN");
    } else {
        config.accessKey = setting("aws_access_key_id");
        config.secretKey = setting("aws_secret_access_key");
        config.sessionToken = setting("aws_session_token");
        if (config.accessKey.empty() != config.secretKey.empty())
            config.problem = "The profile \"" + profile + "\" has only one of aws_access_key_id and aws_secret_access_key";
    }
    return config;
}

std::string Encode(std::string_view text, bool keepSlash)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~' || (keepSlash && c == '/')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string CanonicalQuery(Query query)
{
    for (auto& [name, value] : query) {
        name = Encode(name);
        value = Encode(value);
    }
    std::sort(query.begin(), query.end());
    std::string out;
    for (const auto& [name, value] : query) {
        if (!out.empty())
            out += '&';
        out += name + '=' + value;
    }
    return out;
}

bool XmlLeaves(std::string_view xml, std::vector<std::pair<std::string, std::string>>* leaves)
{
    struct State {
        std::string path;
        std::string text;
        bool leaf = false; // no child element since the element opened
        std::vector<std::pair<std::string, std::string>>* out;
    } state{{}, {}, false, leaves};
    XML_Parser parser = XML_ParserCreate("UTF-8");
    if (parser == nullptr)
        return false;
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(
        parser,
        [](void* user, const XML_Char* name, const XML_Char**) {
            auto* s = static_cast<State*>(user);
            if (!s->path.empty())
                s->path += '/';
            s->path += name;
            s->text.clear();
            s->leaf = true;
        },
        [](void* user, const XML_Char*) {
            auto* s = static_cast<State*>(user);
            if (s->leaf)
                s->out->emplace_back(s->path, s->text);
            s->leaf = false;
            s->text.clear();
            const size_t slash = s->path.rfind('/');
            s->path.erase(slash == std::string::npos ? 0 : slash);
        });
    XML_SetCharacterDataHandler(parser, [](void* user, const XML_Char* text, int length) {
        static_cast<State*>(user)->text.append(text, static_cast<size_t>(length));
    });
    const bool ok = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}

Client::Client(Config config) : config_(std::move(config)) { curl_ = curl_easy_init(); }

Client::~Client()
{
    if (curl_ != nullptr)
        curl_easy_cleanup(static_cast<CURL*>(curl_));
    for (void* handle : handles_)
        curl_easy_cleanup(static_cast<CURL*>(handle));
    if (multi_ != nullptr)
        curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

std::string Client::Url(const std::string& bucket, const std::string& key, const Query& query) const
{
    std::string url;
    if (!config_.endpoint.empty()) {
        // Path style: what gateways and MinIO answer without DNS for each bucket.
        url = config_.endpoint + "/";
        if (!bucket.empty())
            url += Encode(bucket) + "/";
    } else {
        url = "https://" + (bucket.empty() ? std::string() : bucket + ".") + "s3." + config_.region + ".amazonaws.com/";
    }
    url += Encode(key, true);
    if (!query.empty())
        url += "?" + CanonicalQuery(query);
    return url;
}

namespace {

// The buffers of one request while libcurl works on it.
struct Transfer {
    Upload upload;
    curl_slist* list = nullptr;
    Transfer() = default;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    ~Transfer() { Reset(); }
    void Reset()
    {
        curl_slist_free_all(list);
        list = nullptr;
    }
};

// Sets `curl` up for one request whose answer goes to *response.
void Prepare(CURL* curl, const Config& config, const char* method, const std::string& url, std::string_view body,
             const std::vector<std::string>& headers, Response* response, Transfer* transfer)
{
    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
    // A stalled transfer fails instead of hanging: less than 1 byte a second
    // for 30 seconds.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response->body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Header);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, response);
    curl_easy_setopt(curl, CURLOPT_PRIVATE, response);
    if (!config.caBundle.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, config.caBundle.c_str());
    transfer->upload = Upload{body, 0};
    const std::string verb = method;
    if (verb == "GET") {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else if (verb == "PUT") {
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, &Feed);
        curl_easy_setopt(curl, CURLOPT_READDATA, &transfer->upload);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(body.size()));
    } else if (verb == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    } else {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    }
    curl_slist* list = nullptr;
    // Without it the gateway refuses every signed request; the payload is
    // left unsigned (TLS or the MD5 guard it where it matters).
    list = curl_slist_append(list, "x-amz-content-sha256: UNSIGNED-PAYLOAD");
    if (verb == "POST")
        list = curl_slist_append(list, "Content-Type: application/xml");
    for (const std::string& header : headers)
        list = curl_slist_append(list, header.c_str());
    if (!config.accessKey.empty()) {
        if (!config.sessionToken.empty())
            list = curl_slist_append(list, ("x-amz-security-token: " + config.sessionToken).c_str());
        const std::string sigv4 = "aws:amz:" + config.region + ":s3";
        const std::string credentials = config.accessKey + ":" + config.secretKey;
        curl_easy_setopt(curl, CURLOPT_AWS_SIGV4, sigv4.c_str());
        curl_easy_setopt(curl, CURLOPT_USERPWD, credentials.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    transfer->list = list;
}

// Fills in *response once libcurl finished with `rc`.
void Complete(CURL* curl, CURLcode rc, Response* response)
{
    if (rc != CURLE_OK) {
        response->transport = curl_easy_strerror(rc);
        response->body.clear();
        return;
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response->status);
    if (response->status >= 300 && !response->body.empty()) {
        std::vector<std::pair<std::string, std::string>> leaves;
        if (XmlLeaves(response->body, &leaves)) {
            for (const auto& [path, text] : leaves) {
                if (path == "Error/Code")
                    response->code = text;
                else if (path == "Error/Message")
                    response->message = text;
            }
        }
    }
}

} // namespace

Response Client::SendOnce(const char* method, const std::string& url, std::string_view body,
                          const std::vector<std::string>& headers)
{
    Response response;
    auto* curl = static_cast<CURL*>(curl_);
    if (curl == nullptr) {
        response.transport = "libcurl could not be started";
        return response;
    }
    Transfer transfer;
    Prepare(curl, config_, method, url, body, headers, &response, &transfer);
    Complete(curl, curl_easy_perform(curl), &response);
    return response;
}

void Client::SendAll(std::vector<Request>* requests)
{
    if (multi_ == nullptr)
        multi_ = curl_multi_init();
    auto* multi = static_cast<CURLM*>(multi_);
    std::vector<size_t> waiting;
    for (size_t i = 0; i < requests->size(); ++i)
        waiting.push_back(i);
    if (multi == nullptr) {
        for (Request& request : *requests)
            request.response.transport = "libcurl could not be started";
        return;
    }
    while (handles_.size() < kInFlight) {
        CURL* handle = curl_easy_init();
        if (handle == nullptr)
            break;
        handles_.push_back(handle);
    }
    std::minstd_rand random(std::random_device{}());
    int pause = firstPauseMs_;
    for (int attempt = 1; !waiting.empty(); ++attempt) {
        std::vector<Transfer> transfers(handles_.size());
        std::vector<void*> idle(handles_.rbegin(), handles_.rend());
        size_t next = 0;
        int running = 0;
        auto start = [&](void* handle) {
            const size_t slot = static_cast<size_t>(std::find(handles_.begin(), handles_.end(), handle) - handles_.begin());
            Request& request = (*requests)[waiting[next]];
            request.response = Response{};
            transfers[slot].Reset();
            ++next;
            Prepare(static_cast<CURL*>(handle), config_, request.method.c_str(), request.url, request.body,
                    request.headers, &request.response, &transfers[slot]);
            curl_multi_add_handle(multi, static_cast<CURL*>(handle));
            ++running;
        };
        while (next < waiting.size() && !idle.empty()) {
            start(idle.back());
            idle.pop_back();
        }
        while (running > 0) {
            int active = 0;
            curl_multi_perform(multi, &active);
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                if (message->msg != CURLMSG_DONE)
                    continue;
                CURL* handle = message->easy_handle;
                const CURLcode rc = message->data.result;
                Response* response = nullptr;
                curl_easy_getinfo(handle, CURLINFO_PRIVATE, &response);
                Complete(handle, rc, response);
                curl_multi_remove_handle(multi, handle);
                --running;
                if (next < waiting.size())
                    start(handle);
            }
            if (running > 0)
                curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        // The ones to try again, after a pause, as Send does.
        std::vector<size_t> again;
        if (attempt < Attempts())
            for (size_t index : waiting)
                if (Retryable((*requests)[index].response))
                    again.push_back(index);
        if (again.empty() && !waiting.empty()) {
            bool answered = false;
            for (size_t index : waiting)
                answered = answered || (*requests)[index].response.status != 0;
            unreachable_ = !answered;
        }
        waiting.swap(again);
        if (!waiting.empty()) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(pause / 2 + static_cast<int>(random() % (pause / 2 + 1))));
            pause *= 2;
        }
    }
}

Request Client::PutRequest(const std::string& bucket, const std::string& key, std::string data) const
{
    Request request;
    request.method = "PUT";
    request.url = Url(bucket, key, {});
    request.headers = {"Content-MD5: " + ContentMd5(data)};
    request.body = std::move(data);
    return request;
}

Request Client::GetRequest(const std::string& bucket, const std::string& key) const
{
    Request request;
    request.method = "GET";
    request.url = Url(bucket, key, {});
    return request;
}

Response Client::Send(const char* method, const std::string& bucket, const std::string& key, const Query& query,
                      std::string_view body, const std::vector<std::string>& headers)
{
    return SendUrl(method, Url(bucket, key, query), body, headers);
}

Response Client::SendUrl(const char* method, const std::string& url, std::string_view body,
                         const std::vector<std::string>& headers)
{
    std::minstd_rand random(std::random_device{}());
    int pause = firstPauseMs_;
    for (int attempt = 1;; ++attempt) {
        Response response = SendOnce(method, url, body, headers);
        if (attempt >= Attempts() || !Retryable(response)) {
            unreachable_ = response.status == 0;
            return response;
        }
        // Full jitter: clients retrying together do not hit the store together.
        std::this_thread::sleep_for(
            std::chrono::milliseconds(pause / 2 + static_cast<int>(random() % (pause / 2 + 1))));
        pause *= 2;
    }
}

std::string Client::Explain(const Response& response, const std::string& bucket, const std::string& what) const
{
    const std::string where = config_.endpoint.empty() ? "AWS S3" : config_.endpoint;
    if (response.status == 0)
        return "Cannot reach the object store at " + where + ": " + response.transport;
    if (response.code == "NoSuchBucket")
        return "No such bucket \"" + bucket + "\" at " + where;
    if (response.code == "InvalidAccessKeyId")
        return "Access denied to bucket \"" + bucket + "\": the access key is not known (AWS_ACCESS_KEY_ID)";
    if (response.code == "SignatureDoesNotMatch")
        return "Access denied to bucket \"" + bucket + "\": the secret key does not match (AWS_SECRET_ACCESS_KEY)";
    if (response.status == 403)
        return "Access denied to bucket \"" + bucket + "\"" +
               (config_.accessKey.empty() ? " (no credentials given)" : "");
    std::string text = "Cannot " + what + " in bucket \"" + bucket + "\": HTTP " + std::to_string(response.status);
    if (!response.code.empty())
        text += " " + response.code;
    if (!response.message.empty())
        text += ": " + response.message;
    return text;
}

bool Client::List(const std::string& bucket, const std::string& prefix, const std::string& token, int maxKeys,
                  ListPage* page, std::string* error)
{
    Query query = {{"list-type", "2"}, {"prefix", prefix}, {"max-keys", std::to_string(maxKeys)}};
    if (!token.empty())
        query.emplace_back("continuation-token", token);
    const Response response = Send("GET", bucket, "", query, {}, {});
    if (response.status != 200) {
        *error = Explain(response, bucket, "list");
        return false;
    }
    std::vector<std::pair<std::string, std::string>> leaves;
    if (!XmlLeaves(response.body, &leaves)) {
        *error = "The object store answered a listing of bucket \"" + bucket + "\" with a reply that is not XML";
        return false;
    }
    page->objects.clear();
    page->nextToken.clear();
    bool truncated = false;
    for (const auto& [path, text] : leaves) {
        if (path == "ListBucketResult/Contents/Key")
            page->objects.push_back({text, 0});
        else if (path == "ListBucketResult/Contents/Size" && !page->objects.empty())
            page->objects.back().size = std::strtoull(text.c_str(), nullptr, 10);
        else if (path == "ListBucketResult/IsTruncated")
            truncated = text == "true";
        else if (path == "ListBucketResult/NextContinuationToken")
            page->nextToken = text;
    }
    if (truncated && page->nextToken.empty()) {
        *error = "The object store cut a listing of bucket \"" + bucket + "\" short without a continuation token";
        return false;
    }
    if (!truncated)
        page->nextToken.clear();
    return true;
}

bool Client::Get(const std::string& bucket, const std::string& key, std::string* data, bool* found, std::string* error)
{
    Response response = Send("GET", bucket, key, {}, {}, {});
    *found = false;
    if (response.status == 404 && response.code != "NoSuchBucket")
        return true;
    if (response.status != 200) {
        *error = Explain(response, bucket, "read \"" + key + "\"");
        return false;
    }
    *found = true;
    *data = std::move(response.body);
    return true;
}

bool Client::Put(const std::string& bucket, const std::string& key, std::string_view data, std::string* error,
                 const std::vector<std::string>& headers)
{
    std::vector<std::string> all = headers;
    all.push_back("Content-MD5: " + ContentMd5(data));
    const Response response = Send("PUT", bucket, key, {}, data, all);
    if (response.status != 200) {
        *error = Explain(response, bucket, "store \"" + key + "\"");
        return false;
    }
    return true;
}

bool Client::GetRange(const std::string& url, uint64_t offset, size_t length, const std::string& ifMatch,
                      Range* range, bool* changed, std::string* error)
{
    *changed = false;
    if (length == 0) {
        *error = "Internal error: a range read of no bytes";
        return false;
    }
    std::vector<std::string> headers = {"Range: bytes=" + std::to_string(offset) + "-" +
                                        std::to_string(offset + length - 1)};
    if (!ifMatch.empty())
        headers.push_back("If-Match: " + ifMatch);
    Response response = SendUrl("GET", url, {}, headers);
    if (response.status == 412 || (!ifMatch.empty() && !response.etag.empty() && response.etag != ifMatch)) {
        *changed = true;
        *error = url + " changed while it was read (its ETag was " + ifMatch +
                 (response.etag.empty() ? std::string() : ", now " + response.etag) + ")";
        return false;
    }
    if (response.status == 404 && response.code != "NoSuchBucket") {
        *error = "No such object: " + url;
        return false;
    }
    if (response.status == 416) {
        *error = "Cannot read bytes " + std::to_string(offset) + " to " + std::to_string(offset + length) + " of " +
                 url + ": it is shorter";
        return false;
    }
    if (response.status == 206) {
        // "bytes FIRST-LAST/TOTAL"
        unsigned long long first = 0, last = 0, total = 0;
        if (std::sscanf(response.contentRange.c_str(), "bytes %llu-%llu/%llu", &first, &last, &total) != 3 ||
            first != offset || last < first || response.body.size() != last - first + 1) {
            *error = "The server of " + url + " answered a range read with other bytes than asked (\"" +
                     response.contentRange + "\")";
            return false;
        }
        range->data = std::move(response.body);
        range->total = total;
    } else if (response.status == 200) {
        // A server that ignores ranges sends it whole.
        range->total = response.body.size();
        if (offset >= response.body.size()) {
            range->data.clear();
        } else {
            range->data = response.body.substr(static_cast<size_t>(offset), length);
        }
    } else {
        std::string where = url;
        if (const size_t query = where.find('?'); query != std::string::npos)
            where.erase(query);
        if (response.status == 0)
            *error = "Cannot reach " + where + ": " + response.transport;
        else if (response.status == 403)
            *error = "Access denied to " + where + (config_.accessKey.empty() ? " (no credentials given)" : "");
        else
            *error = "Cannot read " + where + ": HTTP " + std::to_string(response.status) +
                     (response.code.empty() ? "" : " " + response.code) +
                     (response.message.empty() ? "" : ": " + response.message);
        return false;
    }
    range->etag = response.etag;
    return true;
}

bool Client::DeleteObjects(const std::string& bucket, const std::vector<std::string>& keys,
                           std::vector<std::string>* failed, std::string* error)
{
    failed->clear();
    if (keys.empty())
        return true;
    if (keys.size() > kMaxDeleteBatch) {
        *error = "Internal error: more than 1000 keys in one deletion";
        return false;
    }
    std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Delete><Quiet>true</Quiet>";
    for (const std::string& key : keys)
        body += "<Object><Key>" + XmlEscape(key) + "</Key></Object>";
    body += "</Delete>";
    const Response response = Send("POST", bucket, "", {{"delete", ""}}, body, {"Content-MD5: " + ContentMd5(body)});
    if (response.status != 200) {
        *error = Explain(response, bucket, "delete");
        return false;
    }
    std::vector<std::pair<std::string, std::string>> leaves;
    if (!XmlLeaves(response.body, &leaves)) {
        *error = "The object store answered a deletion in bucket \"" + bucket + "\" with a reply that is not XML";
        return false;
    }
    std::string firstCode;
    for (const auto& [path, text] : leaves) {
        if (path == "DeleteResult/Error/Key")
            failed->push_back(text);
        else if (path == "DeleteResult/Error/Code" && firstCode.empty())
            firstCode = text;
    }
    if (!failed->empty()) {
        *error = std::to_string(failed->size()) + " objects of bucket \"" + bucket + "\" were not deleted (" +
                 firstCode + ")";
        return false;
    }
    return true;
}

bool Client::CreateBucket(const std::string& bucket, std::string* error)
{
    const Response response = Send("PUT", bucket, "", {}, {}, {});
    if (response.status != 200) {
        *error = Explain(response, bucket, "make the bucket");
        return false;
    }
    return true;
}

bool Client::DeleteBucket(const std::string& bucket, std::string* error)
{
    const Response response = Send("DELETE", bucket, "", {}, {}, {});
    if (response.status != 204 && response.status != 200) {
        *error = Explain(response, bucket, "remove the bucket");
        return false;
    }
    return true;
}

} // namespace s3

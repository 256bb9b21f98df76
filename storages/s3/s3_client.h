#pragma once
// A small S3 client over libcurl: the few requests a tile tree needs
// (ListObjectsV2, GET, PUT, DeleteObjects, bucket make and remove for tests),
// signed with libcurl's SigV4, retried with exponential backoff on 5xx and
// throttling. One easy handle per client, so connections are kept alive.
//
// Debian 12's libcurl signs incompletely; the client itself sends
// x-amz-content-sha256, puts the query string into canonical form before it
// is signed (sorted by name, RFC 3986 percent-encoding, "delete=" with its
// "="), and sends Content-MD5 with DeleteObjects.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace s3 {

// What every S3 tool reads from the environment and the shared files.
struct Config {
    std::string endpoint; // AWS_ENDPOINT_URL without a trailing '/'; empty: AWS itself
    std::string region = "us-east-1";
    std::string accessKey; // empty: anonymous requests, unsigned
    std::string secretKey;
    std::string sessionToken;
    std::string caBundle; // AWS_CA_BUNDLE or the profile's ca_bundle: certificates to trust instead of the system's
    std::string problem; // why the configuration cannot be used; empty when it can
};
// The environment first (AWS_ENDPOINT_URL, AWS_ACCESS_KEY_ID with
// AWS_SECRET_ACCESS_KEY and AWS_SESSION_TOKEN, AWS_REGION or
// AWS_DEFAULT_REGION), then the profile AWS_PROFILE names ("default" when
// unset) in the shared credentials file (AWS_SHARED_CREDENTIALS_FILE, else
// ~/.aws/credentials) and config file (AWS_CONFIG_FILE, else ~/.aws/config):
// aws_access_key_id, aws_secret_access_key, aws_session_token, region,
// endpoint_url, ca_bundle. No keys anywhere: anonymous requests.
Config ConfigFromEnvironment();

// The key = value pairs of section `section` of an INI file's text, names
// in lower case; false when the file has no such section.
bool IniSection(std::string_view text, std::string_view section, std::vector<std::pair<std::string, std::string>>* pairs);

using Query = std::vector<std::pair<std::string, std::string>>;

// RFC 3986 percent-encoding: everything but A-Z a-z 0-9 - . _ ~ is encoded;
// '/' too unless `keepSlash` (an object key in a URL path).
std::string Encode(std::string_view text, bool keepSlash = false);
// The query in the canonical form SigV4 signs: sorted by name, names and
// values encoded, every name with its '='.
std::string CanonicalQuery(Query query);

struct Response {
    long status = 0; // HTTP status; 0 when no answer came
    std::string body;
    std::string transport; // libcurl's text when no answer came
    std::string code;      // the S3 error code of an error body ("NoSuchBucket")
    std::string message;   // its message
    std::string etag;         // the ETag header, as sent
    std::string contentRange; // the Content-Range header
};

// What a range request brought.
struct Range {
    std::string data;
    uint64_t total = 0; // the object's size
    std::string etag;   // empty when the server sends none
};

// One request of a SendAll batch, with its answer.
struct Request {
    std::string method;
    std::string url;
    std::vector<std::string> headers;
    std::string body;
    Response response;
};

struct Object {
    std::string key;
    uint64_t size = 0;
};

struct ListPage {
    std::vector<Object> objects;
    std::string nextToken; // empty on the last page
};

class Client {
public:
    explicit Client(Config config);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Each returns true on success; otherwise *error says what failed in
    // words a user can act on (no such bucket, access denied, endpoint
    // unreachable, ...).
    bool List(const std::string& bucket, const std::string& prefix, const std::string& token, int maxKeys,
              ListPage* page, std::string* error);
    // *found false (and true returned) when the object does not exist.
    bool Get(const std::string& bucket, const std::string& key, std::string* data, bool* found, std::string* error);
    // `headers` ("x-amz-acl: public-read") go with the PUT.
    bool Put(const std::string& bucket, const std::string& key, std::string_view data, std::string* error,
             const std::vector<std::string>& headers = {});
    // `length` bytes from `offset` of the object at `url` (ObjectUrl's, or
    // any http(s) URL); fewer at its end. With `ifMatch` the read fails when
    // the object's ETag is another one now: *changed is set then.
    bool GetRange(const std::string& url, uint64_t offset, size_t length, const std::string& ifMatch, Range* range,
                  bool* changed, std::string* error);
    // The URL of an object, for GetRange.
    std::string ObjectUrl(const std::string& bucket, const std::string& key) const { return Url(bucket, key, {}); }
    // At most kMaxDeleteBatch keys. Keys the store refused go to *failed
    // (the request itself succeeded then); true only when none was refused.
    static constexpr size_t kMaxDeleteBatch = 1000;
    bool DeleteObjects(const std::string& bucket, const std::vector<std::string>& keys,
                       std::vector<std::string>* failed, std::string* error);
    bool CreateBucket(const std::string& bucket, std::string* error);
    bool DeleteBucket(const std::string& bucket, std::string* error);

    // Sends every request, kInFlight at a time over kept-alive connections
    // (libcurl's multi interface), each retried as the single calls are;
    // their answers are in their `response`.
    static constexpr size_t kInFlight = 16;
    void SendAll(std::vector<Request>* requests);
    Request PutRequest(const std::string& bucket, const std::string& key, std::string data) const;
    Request GetRequest(const std::string& bucket, const std::string& key) const;
    // The user's text for a failed response of `what` ("store \"KEY\"").
    std::string Explain(const Response& response, const std::string& bucket, const std::string& what) const;

    // Attempts per request (first try plus retries) and the first pause;
    // each retry waits twice as long as the one before.
    void SetRetries(int attempts, int firstPauseMs)
    {
        attempts_ = attempts;
        firstPauseMs_ = firstPauseMs;
    }

private:
    // After a request that got no answer in all its attempts, the next get
    // one attempt each until one is answered: a store that went away fails
    // each later call at once instead of after every pause again.
    int Attempts() const { return unreachable_ ? 1 : attempts_; }

    // One request with retries. `bucket` may be empty (the service),
    // `key` empty (the bucket).
    Response Send(const char* method, const std::string& bucket, const std::string& key, const Query& query,
                  std::string_view body, const std::vector<std::string>& headers);
    Response SendUrl(const char* method, const std::string& url, std::string_view body,
                     const std::vector<std::string>& headers);
    Response SendOnce(const char* method, const std::string& url, std::string_view body,
                      const std::vector<std::string>& headers);
    std::string Url(const std::string& bucket, const std::string& key, const Query& query) const;

    Config config_;
    void* curl_ = nullptr; // CURL*
    void* multi_ = nullptr; // CURLM*, made by the first SendAll
    std::vector<void*> handles_; // its CURL* handles
    int attempts_ = 4;
    bool unreachable_ = false;
    int firstPauseMs_ = 200;
};

// Leaf elements of an XML document as ("A/B/C", text) pairs in document
// order; false for a document that is not well-formed.
bool XmlLeaves(std::string_view xml, std::vector<std::pair<std::string, std::string>>* leaves);

} // namespace s3

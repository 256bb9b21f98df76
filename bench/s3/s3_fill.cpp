// s3_fill BUCKET PREFIX COUNT: makes BUCKET (when missing) and puts COUNT
// small PNG-looking objects PREFIX/z/x/y.png, zoom by zoom from 0, many in
// flight; the store's settings come from the environment as the plugin reads
// them. Prints the objects put and the seconds taken.
#include "s3_client.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s BUCKET PREFIX COUNT\n", argv[0]);
        return 2;
    }
    const std::string bucket = argv[1];
    const std::string prefix = argv[2];
    const uint64_t count = std::strtoull(argv[3], nullptr, 10);
    s3::Client client(s3::ConfigFromEnvironment());
    std::string error;
    client.CreateBucket(bucket, &error); // may be there already
    const auto start = std::chrono::steady_clock::now();
    uint64_t put = 0;
    std::vector<s3::Request> batch;
    auto send = [&] {
        client.SendAll(&batch);
        for (const s3::Request& request : batch) {
            if (request.response.status != 200) {
                std::fprintf(stderr, "%s: %s\n", request.url.c_str(),
                             client.Explain(request.response, bucket, "store").c_str());
                std::exit(1);
            }
        }
        put += batch.size();
        batch.clear();
    };
    const std::string png("\x89PNG\r\n\x1a\n", 8);
    for (uint32_t z = 0; put + batch.size() < count && z < 31; ++z) {
        for (uint64_t x = 0; x < (uint64_t{1} << z) && put + batch.size() < count; ++x) {
            for (uint64_t y = 0; y < (uint64_t{1} << z) && put + batch.size() < count; ++y) {
                const std::string name = std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y);
                batch.push_back(client.PutRequest(bucket, prefix + "/" + name + ".png", png + name));
                if (batch.size() == 2000)
                    send();
            }
        }
    }
    send();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%llu %.2f\n", static_cast<unsigned long long>(put), seconds);
    return 0;
}

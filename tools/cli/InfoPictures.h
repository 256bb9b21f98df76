#pragma once
// info's pictures: --coverage (where one zoom has plates) and --chart
// (plates and bytes per zoom), gathered while info lists the plates.

#include "browse/Coverage.h"

#include <optional>
#include <string_view>

namespace cli {

struct Options;

class InfoPictures {
public:
    explicit InfoPictures(const Options& options);
    // A selected plate.
    void Add(std::string_view name, uint32_t size)
    {
        if (builder_)
            builder_->Add(name, size);
    }
    // Writes the files asked for; the exit code.
    int Write();

private:
    const Options& options_;
    std::optional<CoverageBuilder> builder_;
};

} // namespace cli

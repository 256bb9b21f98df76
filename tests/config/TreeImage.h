#pragma once
// Builds configuration file images byte by byte, and remembers where the
// entry names lie, so that tests can cut or damage a file at known places.

#include <cstdint>
#include <string>
#include <vector>

class TreeImage {
public:
    struct Span {
        std::size_t begin;
        std::size_t end;
    };

    TreeImage& Header(const std::string& magic = "TreE", const std::string& signature = "RTSm0001")
    {
        bytes += magic;
        Number(signature.size(), 4);
        bytes += signature;
        return *this;
    }
    TreeImage& List(std::uint32_t count, const std::string& magic = "TreE")
    {
        bytes += magic;
        return Number(count, 4);
    }
    // The name length and the name.
    TreeImage& Name(const std::string& name)
    {
        std::size_t begin = bytes.size();
        Number(name.size(), 2);
        bytes += name;
        names.push_back({begin, bytes.size()});
        return *this;
    }
    TreeImage& Type(int code) { return Number(static_cast<std::uint64_t>(code), 1); }
    TreeImage& Number(std::uint64_t value, int width)
    {
        for (int i = 0; i < width; ++i)
            bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
        return *this;
    }
    TreeImage& Block(const std::string& data)
    {
        Number(data.size(), 4);
        bytes += data;
        return *this;
    }
    TreeImage& Raw(const std::string& data)
    {
        bytes += data;
        return *this;
    }

    std::string bytes;
    std::vector<Span> names;
};

// The header every file begins with.
inline std::string HeaderBytes() { return TreeImage().Header().bytes; }

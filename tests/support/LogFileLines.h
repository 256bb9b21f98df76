#pragma once
// Reads a log file back into its lines, each split into the prefix fields
// and the text.

#include <fstream>
#include <regex>
#include <string>
#include <vector>

struct LogFileLine {
    std::string module; // the " %6d" field without its leading blank
    unsigned long thread = 0;
    int error = 0;
    std::string text;
    bool wellFormed = false;
};

struct LogFileContent {
    bool exists = false;
    bool hasHeader = false;
    std::vector<LogFileLine> lines;

    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const auto& line : lines)
            texts.push_back(line.text);
        return texts;
    }
};

inline LogFileContent ReadLogFile(const std::string& path)
{
    static const std::regex prefix(
        R"(^ (\d{2})-(\d{2})-(\d{4}) (\d{2}):(\d{2}):(\d{2}):(\d{4}) ( *\d+)_([0-9A-F]{8}) (\d{6}): )");
    LogFileContent content;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return content;
    content.exists = true;
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (first && line == "DATE TIME / HINST / ERROR : <MESSAGE>") {
            content.hasHeader = true;
            first = false;
            continue;
        }
        first = false;
        LogFileLine parsed;
        std::smatch match;
        // The module field is a number of at least six places, blank-padded.
        if (std::regex_search(line, match, prefix) && match[8].length() >= 6) {
            parsed.wellFormed = true;
            parsed.module = match[8].str();
            parsed.thread = std::stoul(match[9].str(), nullptr, 16);
            parsed.error = std::stoi(match[10].str());
            parsed.text = match.suffix().str();
        } else {
            parsed.text = line;
        }
        content.lines.push_back(parsed);
    }
    return content;
}

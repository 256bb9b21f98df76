#include "base/Dictionary.h"

#include "base/Translate.h"
#include "platform/Files.h"

#include <algorithm>

namespace {

constexpr std::size_t kMaxDictionarySize = 16u << 20;

std::string Unescape(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == 't')) {
            result += text[i + 1] == 'n' ? '\n' : '\t';
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::vector<std::string> Fields(std::string_view line)
{
    std::vector<std::string> fields;
    while (true) {
        std::size_t tab = line.find('\t');
        fields.push_back(Unescape(line.substr(0, tab)));
        if (tab == std::string_view::npos)
            return fields;
        line.remove_prefix(tab + 1);
    }
}

} // namespace

bool Dictionary::Load(const std::string& path)
{
    std::string content;
    if (!platform::RealFileSystem().ReadFile(path, &content, kMaxDictionarySize))
        return false;
    return LoadText(content);
}

bool Dictionary::LoadText(const std::string& text)
{
    languages_.clear();
    texts_.clear();
    std::string_view rest = text;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields = Fields(line);
        if (fields[0] == "languages") {
            languages_.assign(fields.begin() + 1, fields.end());
        } else if (fields.size() > 1) {
            std::string source = std::move(fields[0]);
            fields.erase(fields.begin());
            texts_[std::move(source)] = std::move(fields);
        }
    }
    if (language_ >= static_cast<int>(languages_.size()))
        language_ = 0;
    return true;
}

void Dictionary::SetLanguage(int index)
{
    language_ = index >= 0 && index < static_cast<int>(languages_.size()) ? index : 0;
    const std::vector<Listener> listeners = listeners_;
    for (const Listener& listener : listeners)
        listener(language_);
}

const char* Dictionary::Translate(const char* text) const
{
    if (text == nullptr || language_ == 0)
        return text;
    auto found = texts_.find(text);
    if (found == texts_.end())
        return text;
    const std::vector<std::string>& translations = found->second;
    const std::size_t slot = static_cast<std::size_t>(language_ - 1);
    if (slot >= translations.size() || translations[slot].empty())
        return text;
    return translations[slot].c_str();
}

void Dictionary::RemoveListener(Listener listener)
{
    auto found = std::find(listeners_.begin(), listeners_.end(), listener);
    if (found != listeners_.end())
        listeners_.erase(found);
}

Dictionary& MainDictionary()
{
    static Dictionary dictionary;
    return dictionary;
}

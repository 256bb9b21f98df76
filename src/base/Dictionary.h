#pragma once
// The translation dictionary: texts of the program in several languages.
//
// The file ("Ulmora.mld") is UTF-8 text. Lines starting with '#' and empty
// lines are skipped. The line "languages<TAB>English<TAB>Русский..." names
// the languages; language 0 is the one the program is written in. Every
// other line is a text of the program followed by its translations into
// languages 1, 2, ..., separated by tabs. "\n" and "\t" in a text stand for
// a line feed and a tab; an empty translation keeps the original.

#include "base/Delegate.h"

#include <string>
#include <unordered_map>
#include <vector>

class Dictionary {
public:
    using Listener = Delegate<void(int)>;

    // Replaces the dictionary by the file's; false (last error set) when the
    // file cannot be read. A line it cannot use is skipped.
    bool Load(const std::string& path);
    bool LoadText(const std::string& text);

    const std::vector<std::string>& Languages() const { return languages_; }
    int Language() const { return language_; }
    // Positions outside the list choose language 0. Listeners hear the change.
    void SetLanguage(int index);

    // The text in the current language, or the text itself; the result stays
    // valid while the dictionary is not loaded again.
    const char* Translate(const char* text) const;

    void AddListener(Listener listener) { listeners_.push_back(listener); }
    void RemoveListener(Listener listener);

private:
    std::vector<std::string> languages_;
    std::unordered_map<std::string, std::vector<std::string>> texts_;
    int language_ = 0;
    std::vector<Listener> listeners_;
};

// The program's dictionary ("MainDictionary"); Translate looks texts up here.
Dictionary& MainDictionary();

inline constexpr const char* kDictionaryFileName = "Ulmora.mld";

#pragma once
// The one operation the program needs of its localization: the translation of
// a text in the current language, or the text itself when there is none.
// The result stays valid for the whole run.

const char* Translate(const char* text);

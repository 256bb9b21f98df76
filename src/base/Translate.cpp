#include "base/Translate.h"

#include "base/Dictionary.h"

const char* Translate(const char* text) { return MainDictionary().Translate(text); }

#include "app/Translate.h"

#include "app/Dictionary.h"

const char* Translate(const char* text) { return MainDictionary().Translate(text); }

#include "app/Translate.h"

const char* Translate(const char* text) { return text; }

#include "app/Zelmath.h"

const char* InitZelmath(int) { return nullptr; }

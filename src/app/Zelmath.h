#pragma once
// The maths library the program initialises at start-up. Nothing of it is
// used beyond its initialisation, which cannot fail here.

// Null on success, else a text that says why.
const char* InitZelmath(int flags);
using ZelmathInit = const char* (*)(int flags);

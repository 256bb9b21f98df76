#pragma once
// An Operation for tests: records what is shown and reports Abort presses
// from a script.

#include "log/Operation.h"

#include <set>
#include <string>
#include <vector>

class ScriptedOperation : public Operation {
public:
    std::vector<std::string> texts;
    int ends = 0;
    bool abortable = false;
    int abortQueries = 0;
    std::set<int> abortAt; // IsAborted answers true on these calls (1 = the first)

protected:
    void ShowText(const std::string& text) override { texts.push_back(text); }
    void End() override { ++ends; }
    void ApplyAbortable(bool value) override { abortable = value; }
    bool TakeAborted() override { return abortAt.count(++abortQueries) != 0; }
};

// A clock for PRPeriod that moves a whole period at every reading.
inline uint32_t AlwaysElapsedClock()
{
    static uint32_t now = 0;
    return now += 1000;
}
